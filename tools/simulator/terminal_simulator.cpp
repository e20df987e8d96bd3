#include "terminal_simulator.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <utility>

namespace pdt::sim {

namespace {

constexpr size_t kMaxFrameData = 255;
constexpr size_t kMaxHeaderLength = 1 << 20;
constexpr size_t kMaxRequestLength = 8;  // "RX" and "CU" + digit; anything longer is noise
constexpr uint8_t kPresentTable = 'A';
constexpr uint8_t kAbsentTable = 0xFF;
constexpr uint8_t kHeaderFiller = ' ';

std::string Digits(size_t value, int width) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*zu", width, value);
    return text;
}

// Offsets: 0 presence, 1..7 a readable label, 8..12 record count, 13 blank,
// 14..15 fields per record, 16 blank.
void AppendDescriptor(std::vector<uint8_t>& out, int table, bool present, size_t records,
                      size_t fields) {
    const std::string label = "TABLE" + std::to_string(table) + " ";
    const std::string text = label + Digits(records, 5) + " " + Digits(fields, 2) + " ";
    out.push_back(present ? kPresentTable : kAbsentTable);
    out.insert(out.end(), text.begin(), text.end());
}

}  // namespace

size_t FieldsPerRecord(const std::vector<Record>& records) {
    size_t widest = 0;
    for (const Record& record : records) widest = std::max(widest, record.size());
    return widest;
}

void Validate(const SimConfig& config) {
    if (config.table < 0 || config.table >= kTableCount) {
        throw std::invalid_argument("table " + std::to_string(config.table) +
                                    ": the terminal holds tables 0 to 8");
    }
    if (config.fileName.size() > kMaxFrameData) {
        throw std::invalid_argument("file name longer than 255 bytes");
    }
    if (config.records.size() > kMaxRecords) {
        throw std::invalid_argument(std::to_string(config.records.size()) +
                                    " records; the header counts at most 99999");
    }
    if (FieldsPerRecord(config.records) > kMaxFields) {
        throw std::invalid_argument(std::to_string(FieldsPerRecord(config.records)) +
                                    " fields per record; the header counts at most 99");
    }
    for (size_t r = 0; r < config.records.size(); ++r) {
        for (size_t f = 0; f < config.records[r].size(); ++f) {
            if (config.records[r][f].size() > kMaxFrameData) {
                throw std::invalid_argument("record " + std::to_string(r + 1) + ", field " +
                                            std::to_string(f + 1) +
                                            ": a field frame carries at most 255 bytes");
            }
        }
    }
    if (config.headerLength > kMaxHeaderLength) {
        throw std::invalid_argument("header length " + std::to_string(config.headerLength) +
                                    " is beyond any sense");
    }
    if (config.faultDelay.count() < 0) throw std::invalid_argument("negative fault delay");
}

std::vector<uint8_t> BuildHeader(const SimConfig& config) {
    std::vector<uint8_t> header;
    const size_t fields = FieldsPerRecord(config.records);
    for (int table = 0; table < kTableCount; ++table) {
        const bool served = table == config.table;
        AppendDescriptor(header, table, served, served ? config.records.size() : 0,
                         served ? fields : 0);
    }
    const size_t body = config.headerLength == 0 ? header.size() : config.headerLength - 1;
    header.resize(body, kHeaderFiller);
    header.push_back(kEtx);
    return header;
}

std::vector<uint8_t> Frame(std::string_view data) {
    if (data.size() > kMaxFrameData) {
        throw std::invalid_argument("frame data of " + std::to_string(data.size()) +
                                    " bytes; a frame carries at most 255");
    }
    std::vector<uint8_t> frame;
    frame.reserve(data.size() + 2);
    frame.push_back(static_cast<uint8_t>(data.size()));
    uint8_t sum = 0;
    for (char c : data) {
        frame.push_back(static_cast<uint8_t>(c));
        sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(c));
    }
    frame.push_back(sum);
    return frame;
}

std::vector<uint8_t> Answer::Bytes() const {
    std::vector<uint8_t> all;
    for (const Burst& burst : bursts) all.insert(all.end(), burst.bytes.begin(), burst.bytes.end());
    return all;
}

TerminalSimulator::TerminalSimulator(SimConfig config) : config_(std::move(config)) {
    Validate(config_);
    header_ = BuildHeader(config_);
    const size_t fields = FieldsPerRecord(config_.records);
    frames_.push_back(config_.fileName);
    for (const Record& record : config_.records) {
        for (size_t f = 0; f < fields; ++f) frames_.push_back(f < record.size() ? record[f] : "");
    }
}

void TerminalSimulator::Reset() {
    stage_ = Stage::kWaitEnq;
    inRequest_ = false;
    request_.clear();
    nextFrame_ = 0;
}

Answer TerminalSimulator::Respond(uint8_t pcByte) {
    const uint8_t previous = std::exchange(previousPcByte_, pcByte);
    if (stage_ == Stage::kEnded || stage_ == Stage::kHungUp) return {};
    if (pcByte == kEsc && !inRequest_) {
        stage_ = Stage::kEnded;
        return {};
    }
    if (stage_ == Stage::kSilent) return {};
    // A PC that started over where an ENQ was also due took our ACK as the
    // answer to its opening ENQ and now greets: follow it.
    if (pcByte == 'U' && previous == kEnq && !inRequest_ && stage_ != Stage::kWaitU) {
        Reset();
        stage_ = Stage::kWaitU;
    }
    if (stage_ == Stage::kWaitHeaderRequest || stage_ == Stage::kWaitTableRequest) {
        return OnRequestByte(pcByte);
    }
    // An ENQ where none is expected means the PC started over.
    if (pcByte == kEnq && !ExpectsEnq()) return Restart();
    return OnByteInStage(pcByte);
}

bool TerminalSimulator::ExpectsEnq() const {
    return stage_ == Stage::kWaitHeaderEnq || stage_ == Stage::kWaitTableEnq ||
           stage_ == Stage::kWaitNameEnq;
}

// Bytes other than the awaited one are ignored: the terminal keeps waiting.
Answer TerminalSimulator::OnByteInStage(uint8_t b) {
    switch (stage_) {
        case Stage::kWaitU:
            if (b == 'U') return Handshake(kBelToU, Stage::kWaitT);
            break;
        case Stage::kWaitT:
            if (b == 'T') return Handshake(kAckToT, Stage::kWaitHeaderEnq);
            break;
        case Stage::kWaitHeaderEnq:
            if (b == kEnq) return Handshake(kAckHeaderEnq, Stage::kWaitHeaderRequest);
            break;
        case Stage::kWaitHeaderAck:
            if (b == kAck) stage_ = Stage::kWaitTableEnq;
            break;
        case Stage::kWaitTableEnq:
            if (b == kEnq) return Handshake(kAckTableEnq, Stage::kWaitTableRequest);
            break;
        case Stage::kWaitNameEnq:
            if (b == kEnq) return SendFrame(0);
            break;
        case Stage::kWaitFrameAck:
            if (b != kAck) break;
            if (nextFrame_ < frames_.size()) return SendFrame(nextFrame_);
            stage_ = Stage::kDone;
            break;
        default:
            break;
    }
    return {};
}

Answer TerminalSimulator::OnRequestByte(uint8_t b) {
    if (!inRequest_) {
        if (b == kStx) {
            inRequest_ = true;
            request_.clear();
        } else if (b == kEnq) {
            return Restart();
        }
        return {};
    }
    if (b == kEtx) {
        inRequest_ = false;
        return OnRequest(request_);
    }
    request_.push_back(static_cast<char>(b));
    if (request_.size() > kMaxRequestLength) inRequest_ = false;  // noise, not a request
    return {};
}

// "RX" is only understood while the header is awaited, "CU" + digit only for
// the served table; anything else gets NAK and the terminal keeps waiting.
Answer TerminalSimulator::OnRequest(const std::string& request) {
    if (stage_ == Stage::kWaitHeaderRequest && request == "RX") {
        Answer answer = Handshake(kAckHeaderRequest, Stage::kWaitHeaderAck);
        Burst header{{}, {kStx}};
        header.bytes.insert(header.bytes.end(), header_.begin(), header_.end());
        answer.bursts.push_back(std::move(header));
        answer.endsBlock = true;
        return answer;
    }
    const std::string tableRequest = "CU" + std::string(1, static_cast<char>('0' + config_.table));
    if (stage_ == Stage::kWaitTableRequest && request == tableRequest) {
        return Handshake(kAckTableRequest, Stage::kWaitNameEnq);
    }
    return Answer{{Burst{{}, {kNak}}}};
}

Answer TerminalSimulator::Restart() {
    Reset();
    return Handshake(kAckFirstEnq, Stage::kWaitU);
}

Answer TerminalSimulator::Handshake(HandshakeAnswer which, Stage next) {
    uint8_t reply = which == kBelToU ? kBel : kAck;
    if (config_.wrongHandshakeAt == which) reply = kNak;
    stage_ = next;
    return Answer{{Burst{{}, {reply}}}};
}

Answer TerminalSimulator::SendFrame(size_t index) {
    const auto reached = [index](int fault) {
        return fault != kNoFault && index >= static_cast<size_t>(fault);
    };
    const auto is = [index](int fault) {
        return fault != kNoFault && index == static_cast<size_t>(fault);
    };
    if (reached(config_.silenceAfterFrames)) {
        stage_ = Stage::kSilent;
        return {};
    }
    const std::string_view data =
        is(config_.zeroLengthFrame) ? std::string_view() : std::string_view(frames_[index]);
    std::vector<uint8_t> bytes = Frame(data);
    Answer answer;
    if (reached(config_.hangupAfterFrames)) {
        bytes.resize(1 + data.size() / 2);  // the length byte and half the data
        answer.bursts.push_back({{}, std::move(bytes)});
        answer.hangUp = true;
        stage_ = Stage::kHungUp;
        return answer;
    }
    if (is(config_.badChecksumFrame)) {
        const uint8_t right = bytes.back();
        bytes.back() = static_cast<uint8_t>(right + 1);
        answer.bursts.push_back({{}, std::move(bytes)});
        answer.bursts.push_back({config_.faultDelay, {right}});
    } else {
        answer.bursts.push_back({{}, std::move(bytes)});
    }
    answer.endsBlock = true;
    nextFrame_ = index + 1;
    stage_ = Stage::kWaitFrameAck;
    return answer;
}

}  // namespace pdt::sim
