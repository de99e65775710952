#pragma once

#include "profilepositionstore.h"

#include <QString>

class ProfileFile;

// The settings the main window holds from start-up to close; the initial
// values are the defaults for keys the settings file lacks.
struct AppSettings {
    QString folderLabel; // what the folder label shows at start
    QString outputFolder;
    int outputType = 2; // WMA, the only kind produced
    int norVol = 98;
    bool fadeIn = false;
    bool fadeOut = false;
    int fadeInTime = 5;  // seconds
    int fadeOutTime = 5; // seconds
};

// The default output folder: the user's music folder.
QString defaultOutputFolder();

// Every section and key name of the settings file is spelled in the
// functions below and nowhere else.

// Start-up reads, Dir first, then the Nor and Fade values.
AppSettings readStartupSettings(const ProfileFile &settings);

// Close-time writes: Format, then Fade, then Nor; throws SettingsWriteError
// at the first entry the file refuses.
void writeCloseSettings(ProfileFile &settings, const AppSettings &held);

// The output format dialog's row, as stored (any integer; the default row
// when there is none).
int storedProfilePosition(const ProfileFile &settings);
// Written at once; throws SettingsWriteError when the file refuses it.
void storeProfilePosition(ProfileFile &settings, int position);
// The two above, for the output format dialog; `settings` must outlive it.
ProfilePositionStore profilePositionStore(ProfileFile &settings);

// The profile number the next run encodes with: stored position + 1,
// passed on without a range check.
int storedProfileNumber(const ProfileFile &settings);
