#include "tools/sim/DeviceReply.h"

#include "link/Crc16.h"

#include <algorithm>
#include <span>

namespace kve17::sim {

namespace {

constexpr std::uint8_t ExceptionBit = 0x80;
constexpr int CoilCount = 4096;
constexpr int RegisterCount = 1024;
constexpr int MaxReadCoils = 2000;
constexpr int MaxReadRegisters = 125;
constexpr int MaxWriteCoils = 1968;

// Where a reply is built: the frame lies at `frame`, leaving room for noise before it.
struct Out {
    std::uint8_t* frame;
    int length = 0;
};

int Word(std::span<const std::uint8_t> data, int at) {
    return data[at] << 8 | data[at + 1];
}

void SealCrc(Out& out) {
    const std::uint16_t crc = Crc16(out.length - 2, out.frame);
    out.frame[out.length - 2] = static_cast<std::uint8_t>(crc & 0xFF);
    out.frame[out.length - 1] = static_cast<std::uint8_t>(crc >> 8);
}

void Exception(const Request& request, int code, Out& out) {
    out.frame[0] = request.Address();
    out.frame[1] = request.Command() | ExceptionBit;
    out.frame[2] = static_cast<std::uint8_t>(code);
    out.length = 5;
}

void Echo(const Request& request, int length, Out& out) {
    std::copy_n(request.bytes.begin(), length - 2, out.frame);
    out.length = length;
}

// Starts a counted reply: address, command, byte count; the data follow at out.frame + 3.
std::uint8_t* Counted(const Request& request, int count, Out& out) {
    out.frame[0] = request.Address();
    out.frame[1] = request.Command();
    out.frame[2] = static_cast<std::uint8_t>(count);
    out.length = count + 5;
    return out.frame + 3;
}

void ReadCoils(const Request& request, Out& out) {
    const auto data = request.Data();
    const int start = Word(data, 0);
    const int quantity = Word(data, 2);
    if (quantity < 1 || quantity > MaxReadCoils)
        return Exception(request, IllegalValue, out);
    if (start + quantity > CoilCount)
        return Exception(request, IllegalAddress, out);
    const int count = (quantity + 7) / 8;
    std::uint8_t* bytes = Counted(request, count, out);
    for (int i = 0; i < count; ++i)
        bytes[i] = static_cast<std::uint8_t>(request.Address() * 37 + start + i);
    if (quantity % 8 != 0)
        bytes[count - 1] &= static_cast<std::uint8_t>((1 << (quantity % 8)) - 1);
}

void ReadRegisters(const Request& request, Out& out) {
    const auto data = request.Data();
    const int start = Word(data, 0);
    const int quantity = Word(data, 2);
    if (quantity < 1 || quantity > MaxReadRegisters)
        return Exception(request, IllegalValue, out);
    if (start + quantity > RegisterCount)
        return Exception(request, IllegalAddress, out);
    std::uint8_t* bytes = Counted(request, quantity * 2, out);
    for (int i = 0; i < quantity; ++i) {
        bytes[2 * i] = request.Address();
        bytes[2 * i + 1] = static_cast<std::uint8_t>(start + i);
    }
}

void WriteCoil(const Request& request, Out& out) {
    const int value = Word(request.Data(), 2);
    if (value != 0x0000 && value != 0xFF00)
        return Exception(request, IllegalValue, out);
    Echo(request, request.length, out);
}

void WriteCoils(const Request& request, Out& out) {
    const auto data = request.Data();
    const int start = Word(data, 0);
    const int quantity = Word(data, 2);
    if (quantity < 1 || quantity > MaxWriteCoils || data[4] != (quantity + 7) / 8)
        return Exception(request, IllegalValue, out);
    if (start + quantity > CoilCount)
        return Exception(request, IllegalAddress, out);
    Echo(request, 8, out);
}

void ReportId(const Request& request, Out& out) {
    constexpr std::array<std::uint8_t, 8> id = {0x17, 0xFF, 'K', 'V', 'E', '-', '1', '7'};
    std::uint8_t* bytes = Counted(request, static_cast<int>(id.size()), out);
    std::copy(id.begin(), id.end(), bytes);
}

int WrittenRecords(const DeviceArchive& archive) {
    int written = 0;
    for (int at = 0; at < ArchiveBytes; at += 8)
        if (std::any_of(archive.begin() + at, archive.begin() + at + 8,
                        [](std::uint8_t b) { return b != 0xFF; }))
            ++written;
    return written;
}

void ArchiveFill(const Request& request, const DeviceArchive& archive, Out& out) {
    const int written = WrittenRecords(archive);
    std::uint8_t* bytes = Counted(request, 2, out);
    bytes[0] = static_cast<std::uint8_t>(written >> 8);
    bytes[1] = static_cast<std::uint8_t>(written & 0xFF);
}

void ArchiveBlock(const Request& request, const DeviceArchive& archive, Out& out) {
    const auto data = request.Data();
    const int block = data[1];
    if (data[0] != 0 || block < 1 || block > BlockCount)
        return Exception(request, IllegalAddress, out);
    std::uint8_t* bytes = Counted(request, BlockBytes, out);
    std::copy_n(archive.begin() + (block - 1) * BlockBytes, BlockBytes, bytes);
}

// The ordinary answer, CRC not yet sealed.
void Answer(const Request& request, const DeviceArchive& archive, Out& out) {
    switch (request.Command()) {
    case 1:
    case 2:
        return ReadCoils(request, out);
    case 3:
    case 4:
        return ReadRegisters(request, out);
    case 5:
        return WriteCoil(request, out);
    case 6:
    case 14:
        return Echo(request, request.length, out);
    case 15:
        return WriteCoils(request, out);
    case 17:
        return ReportId(request, out);
    case 66:
        return ArchiveFill(request, archive, out);
    case 67:
        return ArchiveBlock(request, archive, out);
    default: // 18, 68, 71, 100: not kept by this model
        return Exception(request, IllegalFunction, out);
    }
}

bool IsCounted(const Request& request, const Out& out) {
    const std::uint8_t command = request.Command();
    return out.frame[1] == command && command != 5 && command != 6 && command != 14 &&
           command != 15;
}

// Rewrites a counted answer to claim `count` data bytes and send as many: its own data first,
// then for an archive block the archive's following bytes, else zeros.
void Recount(const Request& request, const DeviceArchive& archive, int count, Out& out) {
    const int had = out.length - 5;
    const int block = RequestedBlock(request);
    for (int i = had; i < count; ++i)
        out.frame[3 + i] =
            block > 0
                ? archive[static_cast<std::size_t>(((block - 1) * BlockBytes + i) % ArchiveBytes)]
                : 0;
    out.frame[2] = static_cast<std::uint8_t>(count);
    out.length = count + 5;
}

} // namespace

int RequestedBlock(const Request& request) {
    return request.Command() == 67 ? request.Data()[1] : 0;
}

bool WantsReply(const Request& request) {
    const std::uint8_t command = request.Command();
    return request.Address() != 0 && command != 69 && command != 70;
}

FaultSet TakeFaults(std::vector<Fault>& faults, int block) {
    FaultSet set;
    for (Fault& fault : faults) {
        if (fault.times == 0 || (fault.block != 0 && fault.block != block))
            continue;
        switch (fault.kind) {
        case FaultKind::Silence:
            set.silence = true;
            break;
        case FaultKind::Cut:
            set.cut = fault.value;
            break;
        case FaultKind::BadCrc:
            set.badCrc = true;
            break;
        case FaultKind::WrongCount:
            set.count = fault.value;
            break;
        case FaultKind::ForeignCommand:
            set.command = fault.value;
            break;
        case FaultKind::Exception:
            set.exception = fault.value;
            break;
        case FaultKind::Delay:
            set.delayMs += fault.value;
            break;
        case FaultKind::Noise:
            set.noise += fault.value;
            break;
        }
        if (fault.times > 0)
            --fault.times;
    }
    std::erase_if(faults, [](const Fault& fault) { return fault.times == 0; });
    return set;
}

bool BuildReply(const Request& request, const DeviceArchive& archive, const FaultSet& faults,
                SimRandom& noise, Reply& reply) {
    reply.length = 0;
    reply.delay = std::chrono::milliseconds{std::max(faults.delayMs, 0)};
    if (faults.silence || !WantsReply(request))
        return false;
    const int noiseBytes = std::clamp(faults.noise, 0, MaxNoise);
    Out out{reply.bytes.data() + noiseBytes};
    if (faults.exception)
        Exception(request, *faults.exception, out);
    else
        Answer(request, archive, out);
    if (faults.count && IsCounted(request, out))
        Recount(request, archive, std::clamp(*faults.count, 0, 255), out);
    if (faults.command)
        out.frame[1] = static_cast<std::uint8_t>(*faults.command);
    SealCrc(out);
    if (faults.badCrc) {
        out.frame[out.length - 2] ^= 0xFF;
        out.frame[out.length - 1] ^= 0xFF;
    }
    if (faults.cut)
        out.length = std::clamp(*faults.cut, 0, out.length);
    for (int i = 0; i < noiseBytes; ++i)
        reply.bytes[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(noise.Next());
    reply.length = noiseBytes + out.length;
    return true;
}

} // namespace kve17::sim
