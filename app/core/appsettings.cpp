#include "appsettings.h"

#include "profilefile.h"
#include "wmaprofiles.h"

#include <QStandardPaths>

namespace {
const QString kFormat = QStringLiteral("Format");
const QString kFade = QStringLiteral("Fade");
const QString kNor = QStringLiteral("Nor");
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
    held.folderLabel = settings.ReadString(kFormat, QStringLiteral("Dir"), defaultOutputFolder());
    held.outputType = 2;
    held.outputFolder = settings.ReadString(kFormat, QStringLiteral("Dir"), defaultOutputFolder());
    held.norVol = settings.ReadInteger(kNor, QStringLiteral("vol"), 98);
    held.fadeIn = settings.ReadBool(kFade, QStringLiteral("In"), false);
    held.fadeOut = settings.ReadBool(kFade, QStringLiteral("Out"), false);
    held.fadeInTime = settings.ReadInteger(kFade, QStringLiteral("Intime"), 5);
    held.fadeOutTime = settings.ReadInteger(kFade, QStringLiteral("Outtime"), 5);
    return held;
}

void writeCloseSettings(ProfileFile &settings, const AppSettings &held)
{
    settings.WriteString(kFormat, QStringLiteral("Dir"), held.outputFolder);
    settings.WriteInteger(kFormat, QStringLiteral("int"), held.outputType);
    settings.WriteBool(kFade, QStringLiteral("In"), held.fadeIn);
    settings.WriteBool(kFade, QStringLiteral("Out"), held.fadeOut);
    settings.WriteInteger(kFade, QStringLiteral("Intime"), held.fadeInTime);
    settings.WriteInteger(kFade, QStringLiteral("Outtime"), held.fadeOutTime);
    settings.WriteInteger(kNor, QStringLiteral("vol"), held.norVol);
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
