#include "serial/input_gathering.h"

namespace orvante::serial {

InputGathering::Duration InputGathering::ByteTime(const LineSettings& settings) {
    if (settings.baudRate <= 0) return {};
    const int bits = 1 + settings.dataBits + (settings.parity == 'N' ? 0 : 1) + settings.stopBits;
    return Duration(std::int64_t{1'000'000'000} * bits / settings.baudRate);
}

std::optional<InputGathering::Duration> InputGathering::Decide(TimePoint now, std::size_t waiting) {
    const bool trickling = lastEvent_ && now - *lastEvent_ < look_;
    lastEvent_ = now;
    if (!gatherStart_) {
        if (!trickling || waiting >= kEnoughToRead) return std::nullopt;
        gatherStart_ = now;
        seen_ = waiting;
        return look_;
    }
    const bool quiet = waiting <= seen_;
    const bool longEnough = now + look_ - *gatherStart_ > kMaxGather;
    if (quiet || longEnough || waiting >= kEnoughToRead) {
        gatherStart_.reset();
        return std::nullopt;
    }
    seen_ = waiting;
    return look_;
}

}  // namespace orvante::serial
