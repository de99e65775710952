#include "appsettings.h"

#include "profilefile.h"
#include "wmaprofiles.h"

#include <QStandardPaths>

namespace {
const QString kFormat = QStringLiteral("Format");
const QString kDir = QStringLiteral("Dir");
const QString kFade = QStringLiteral("Fade");
const QString kIn = QStringLiteral("In");
const QString kOut = QStringLiteral("Out");
const QString kInTime = QStringLiteral("Intime");
const QString kOutTime = QStringLiteral("Outtime");
const QString kNor = QStringLiteral("Nor");
const QString kVol = QStringLiteral("vol");
const QString kWma = QStringLiteral("wma");
const QString kWmaFormat = QStringLiteral("format");
} // namespace

QString defaultOutputFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
}

AppSettings readStartupSettings(const ProfileFile &settings)
{
    AppSettings held;
    // Dir is read for the label and again for the folder: from here on they
    // are two values ("setpath" sets both, a run only the folder), and each
    // read goes to the file, as every read does.
    held.folderLabel = settings.ReadString(kFormat, kDir, defaultOutputFolder());
    held.outputFolder = settings.ReadString(kFormat, kDir, defaultOutputFolder());
    held.norVol = settings.ReadInteger(kNor, kVol, held.norVol);
    held.fadeIn = settings.ReadBool(kFade, kIn, held.fadeIn);
    held.fadeOut = settings.ReadBool(kFade, kOut, held.fadeOut);
    held.fadeInTime = settings.ReadInteger(kFade, kInTime, held.fadeInTime);
    held.fadeOutTime = settings.ReadInteger(kFade, kOutTime, held.fadeOutTime);
    return held;
}

void writeCloseSettings(ProfileFile &settings, const AppSettings &held)
{
    // The file holds one entry per line: a folder whose name has a line break
    // would read back cut short and send the next run's files elsewhere, so
    // the folder stored before it is kept instead.
    const bool storable =
        !held.outputFolder.contains(QLatin1Char('\n')) && !held.outputFolder.contains(QLatin1Char('\r'));
    if (storable)
        settings.WriteString(kFormat, kDir, held.outputFolder);
    settings.WriteInteger(kFormat, QStringLiteral("int"), held.outputType);
    settings.WriteBool(kFade, kIn, held.fadeIn);
    settings.WriteBool(kFade, kOut, held.fadeOut);
    settings.WriteInteger(kFade, kInTime, held.fadeInTime);
    settings.WriteInteger(kFade, kOutTime, held.fadeOutTime);
    settings.WriteInteger(kNor, kVol, held.norVol);
}

int storedProfilePosition(const ProfileFile &settings)
{
    return settings.ReadInteger(kWma, kWmaFormat, kDefaultWmaPosition);
}

void storeProfilePosition(ProfileFile &settings, int position)
{
    settings.WriteInteger(kWma, kWmaFormat, position);
}

ProfilePositionStore profilePositionStore(ProfileFile &settings)
{
    return {[&settings] { return storedProfilePosition(settings); },
            [&settings](int position) { storeProfilePosition(settings, position); }};
}

int storedProfileNumber(const ProfileFile &settings)
{
    // Summed in 64 bits: a hand-edited INT_MAX wraps to a number no profile
    // has, as a 32-bit sum would, instead of overflowing.
    const qint64 stored = storedProfilePosition(settings);
    return static_cast<int>(static_cast<quint32>(stored + 1));
}
