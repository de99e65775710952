#pragma once

#include "skindefinition.h"

class QString;

// Parses the text of a skin file. `origin` names the file in messages.
// Throws SkinError naming the line of the first fault.
SkinDefinition ParseSkin(const QString &text, const QString &origin);
