#pragma once

#include <QString>

// Folder from which the loadable libraries (libwmaudsdk.so, libvcedit.so) are
// loaded: beside the executable unless overridden, so tests can run with a
// library missing. SONBREL_LIBRARY_DIR in the environment overrides too.
QString libraryFolder();
void setLibraryFolder(const QString &folder); // empty restores the default
QString libraryPath(const QString &fileName);
