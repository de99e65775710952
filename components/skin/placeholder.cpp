// removed once this folder has real sources
