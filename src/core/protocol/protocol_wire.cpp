#include "core/protocol/protocol_wire.h"

#include <stdexcept>

namespace pdt::wire {

uint8_t FrameChecksum(std::string_view data) {
    uint8_t sum = 0;
    for (char c : data) sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(c));
    return sum;
}

void AppendFrame(std::vector<uint8_t>& out, std::string_view data) {
    if (data.size() > 255) throw std::length_error("a frame holds at most 255 data bytes");
    out.push_back(static_cast<uint8_t>(data.size()));
    out.insert(out.end(), data.begin(), data.end());
    out.push_back(FrameChecksum(data));
}

}  // namespace pdt::wire
