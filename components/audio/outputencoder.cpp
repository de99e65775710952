#include "outputencoder.h"

#include "wmaprofiles.h"
#include "wmalosslessoutputencoder.h"
#include "wmastdoutputencoder.h"

std::unique_ptr<OutputEncoder> createOutputEncoder(const WmaProfile &profile, QString &whyNot)
{
    const QString notYet =
        QStringLiteral("The WMA profile \"%1\" is not available yet").arg(QString::fromUtf8(profile.text));
    switch (profile.rateControl) {
    case WmaProfile::RateControl::Cbr:
        return std::make_unique<WmaStdOutputEncoder>();
    case WmaProfile::RateControl::VbrQuality:
        return std::make_unique<WmaStdOutputEncoder>();
    case WmaProfile::RateControl::Lossless:
        return std::make_unique<WmaLosslessOutputEncoder>();
    }
    whyNot = notYet + QLatin1Char('.');
    return nullptr;
}
