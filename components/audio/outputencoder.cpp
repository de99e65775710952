#include "outputencoder.h"

#include "wmaprofiles.h"
#include "wmalosslessoutputencoder.h"
#include "wmav2encoder.h"

namespace {
// libavcodec's wmav2 encoder refuses anything below this.
constexpr int kLowestWmav2Kbps = 24;
} // namespace

std::unique_ptr<OutputEncoder> createOutputEncoder(const WmaProfile &profile, QString &whyNot)
{
    const QString notYet =
        QStringLiteral("The WMA profile \"%1\" is not available yet").arg(QString::fromUtf8(profile.text));
    switch (profile.rateControl) {
    case WmaProfile::RateControl::Cbr:
        if (profile.bitRateKbps < kLowestWmav2Kbps) {
            whyNot =
                notYet + QStringLiteral(": bit rates below %1 kbps are not supported.").arg(kLowestWmav2Kbps);
            return nullptr;
        }
        return std::make_unique<Wmav2Encoder>();
    case WmaProfile::RateControl::VbrQuality:
        whyNot = notYet + QStringLiteral(": variable bit rate is not supported.");
        return nullptr;
    case WmaProfile::RateControl::Lossless:
        return std::make_unique<WmaLosslessOutputEncoder>();
    }
    whyNot = notYet + QLatin1Char('.');
    return nullptr;
}
