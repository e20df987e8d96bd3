// The terminal's side of the Zebex Z-2030 download exchange, as a pure byte
// machine: feed it what the PC sends, get back what the terminal answers.
// No OS calls, so the same simulator serves in-memory protocol tests on every
// platform and the pty runner on POSIX.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sim_records.h"

namespace pdt::sim {

inline constexpr uint8_t kStx = 0x02;
inline constexpr uint8_t kEtx = 0x03;
inline constexpr uint8_t kEnq = 0x05;
inline constexpr uint8_t kAck = 0x06;
inline constexpr uint8_t kBel = 0x07;
inline constexpr uint8_t kNak = 0x15;  // the terminal's "no": wrong handshake fault, unknown table
inline constexpr uint8_t kEsc = 0x1B;

inline constexpr int kTableCount = 9;  // descriptors 0..8 in the header
inline constexpr size_t kDescriptorSize = 17;
inline constexpr size_t kNaturalHeaderLength = kTableCount * kDescriptorSize + 1;  // with ETX
inline constexpr size_t kMaxRecords = 99999;  // five digits in the descriptor
inline constexpr size_t kMaxFields = 99;      // two digits

// Handshake answers, in the order the terminal gives them; `wrongHandshakeAt`
// names one of these.
enum HandshakeAnswer : int {
    kAckFirstEnq = 0,       // ACK to the opening ENQ
    kBelToU = 1,            // BEL to "U"
    kAckToT = 2,            // ACK to "T"
    kAckHeaderEnq = 3,      // ACK to the ENQ before the header request
    kAckHeaderRequest = 4,  // ACK to STX "RX" ETX (the header follows)
    kAckTableEnq = 5,       // ACK to the ENQ after the header
    kAckTableRequest = 6,   // ACK to STX "CU" digit ETX
    kHandshakeAnswers = 7
};

inline constexpr int kNoFault = -1;

struct SimConfig {
    int table = 0;                      // the table that is present and served (0..8)
    std::string fileName = "DATA.TXT";  // data of the file-name frame
    std::vector<Record> records;        // each record's fields; shorter ones padded with ""

    // Faults, all off by default. Frames are numbered from 0: frame 0 is the
    // file-name frame, frames 1.. the field frames in order.
    int badChecksumFrame = kNoFault;  // sent with a wrong checksum, the right one after faultDelay
    int wrongHandshakeAt = kNoFault;  // a HandshakeAnswer sent as NAK instead
    int silenceAfterFrames = kNoFault;  // after this many frames the terminal says nothing more
    int hangupAfterFrames = kNoFault;   // the next frame is cut halfway and the line drops
    int zeroLengthFrame = kNoFault;     // sent as length 0, checksum 0 (its data dropped)
    size_t headerLength = 0;  // bytes after STX including ETX; 0: natural (154). Longer pads
                              // before the ETX, shorter cuts the descriptors.
    std::chrono::microseconds faultDelay{std::chrono::milliseconds(100)};
};

// Validates the configuration; throws std::invalid_argument with the reason.
void Validate(const SimConfig& config);

// Fields per record: the widest record.
size_t FieldsPerRecord(const std::vector<Record>& records);

// The header as sent after STX, ending with ETX. The served table's descriptor
// is present ('A') with the record and field counts; the other eight are
// absent (FFh). The bytes nobody interprets hold readable text, never ETX.
std::vector<uint8_t> BuildHeader(const SimConfig& config);

// One frame: length byte, data, checksum (sum of the data modulo 256).
// Throws std::invalid_argument when the data is longer than 255 bytes.
std::vector<uint8_t> Frame(std::string_view data);

// Part of an answer: wait `delay`, then put `bytes` on the line.
struct Burst {
    std::chrono::microseconds delay{0};
    std::vector<uint8_t> bytes;
};

struct Answer {
    std::vector<Burst> bursts;
    bool endsBlock = false;  // ends with a whole header or frame: the PC's ACK to it is timed
    bool hangUp = false;     // the line drops after the bursts

    std::vector<uint8_t> Bytes() const;  // all bursts, delays ignored
    bool Empty() const { return bursts.empty() && !hangUp; }
};

class TerminalSimulator {
  public:
    // Throws std::invalid_argument for a configuration the terminal cannot serve.
    explicit TerminalSimulator(SimConfig config);

    // The terminal's answer to one PC byte, with the pauses that timing faults need.
    Answer Respond(uint8_t pcByte);
    // The same without the pauses; empty when the terminal stays quiet.
    std::vector<uint8_t> OnPcByte(uint8_t pcByte) { return Respond(pcByte).Bytes(); }

    bool SessionEnded() const { return stage_ == Stage::kEnded; }  // ESC seen
    bool HungUp() const { return stage_ == Stage::kHungUp; }
    bool TransferDone() const { return stage_ == Stage::kDone; }  // last frame acknowledged
    void Reset();  // ready for a new session, waiting for ENQ

    size_t FrameCount() const { return frames_.size(); }  // file-name frame included
    const SimConfig& Config() const { return config_; }

  private:
    enum class Stage {
        kWaitEnq,
        kWaitU,
        kWaitT,
        kWaitHeaderEnq,
        kWaitHeaderRequest,
        kWaitHeaderAck,
        kWaitTableEnq,
        kWaitTableRequest,
        kWaitNameEnq,
        kWaitFrameAck,
        kDone,
        kSilent,
        kHungUp,
        kEnded,
    };

    Answer OnByteInStage(uint8_t b);
    Answer OnRequestByte(uint8_t b);
    Answer OnRequest(const std::string& request);
    Answer Restart();
    Answer Handshake(HandshakeAnswer which, Stage next);
    Answer SendFrame(size_t index);
    bool ExpectsEnq() const;

    SimConfig config_;
    std::vector<uint8_t> header_;
    std::vector<std::string> frames_;  // data of frame 0 (name), 1.. (fields)
    Stage stage_ = Stage::kWaitEnq;
    bool inRequest_ = false;  // between STX and ETX of a PC request
    std::string request_;
    size_t nextFrame_ = 0;
    uint8_t previousPcByte_ = 0;
};

}  // namespace pdt::sim
