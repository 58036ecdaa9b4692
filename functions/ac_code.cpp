#include "functions/ac_code.h"

namespace orvante::functions {

AcCodePayload EncodeAcCode(const AcCodeRequest& request) {
    return {
        static_cast<std::uint8_t>(request.brand >> 8),
        static_cast<std::uint8_t>(request.brand & 0xFF),
        request.power,
        request.mode,
        static_cast<std::uint8_t>(request.temperatureIndex + kLowestAcTemperature),
        request.fan,
        request.swing,
    };
}

}  // namespace orvante::functions
