// The one place that knows every encoder; outputencoder.h declares it so that
// the encoders' own headers need only the interface.
#include "outputencoder.h"

#include "wmalosslessoutputencoder.h"
#include "wmaprofiles.h"
#include "wmastdoutputencoder.h"

std::unique_ptr<OutputEncoder> createOutputEncoder(const WmaProfile &profile)
{
    if (profile.rateControl == WmaProfile::RateControl::Lossless)
        return std::make_unique<WmaLosslessOutputEncoder>();
    return std::make_unique<WmaStdOutputEncoder>(); // CBR and VBR quality
}
