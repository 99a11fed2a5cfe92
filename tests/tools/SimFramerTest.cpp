// Framing of requests by length, and how the line falls back into step after garbage.
#include "tests/tools/SimClient.h"
#include "tools/sim/RequestFramer.h"

#include <gtest/gtest.h>

namespace kve17::test {
namespace {

using namespace std::chrono;
using sim::Clock;

constexpr auto Gap = microseconds{3646}; // 3.5 characters at 9600 baud

class SimFramerTest : public ::testing::Test {
protected:
    void Add(const Bytes& bytes, Clock::duration after = {}) {
        now += after;
        framer.Add(bytes, now, Gap);
    }
    // The frames that line up, in order.
    std::vector<Bytes> Frames() {
        std::vector<Bytes> frames;
        sim::Request request;
        while (framer.Next(request))
            frames.emplace_back(request.bytes.begin(), request.bytes.begin() + request.length);
        return frames;
    }

    sim::RequestFramer framer;
    Clock::time_point now = Clock::now();
};

TEST_F(SimFramerTest, EachCommandIsFramedByTheLengthItImplies) {
    const std::vector<Bytes> requests{
        RequestFrame(1, 3, {0, 0, 0, 4}),
        RequestFrame(2, 15, {0, 0, 0, 9, 2, 1, 1}),
        RequestFrame(3, 17),
        RequestFrame(4, 67, {0, 62}),
        RequestFrame(0, 70, {1, 2, 3, 4, 5, 99}),
        RequestFrame(5, 70),
        RequestFrame(6, 100),
        RequestFrame(7, 14, {1, 2, 3, 4}),
    };
    Bytes line;
    for (const Bytes& r : requests)
        line.insert(line.end(), r.begin(), r.end());
    Add(line);
    EXPECT_EQ(Frames(), requests);
    EXPECT_EQ(framer.Pending(), 0);
}

TEST_F(SimFramerTest, ARequestInPiecesLinesUpWhenItsLastByteComes) {
    const Bytes request = BlockRequest(1, 5);
    Add(Bytes(request.begin(), request.begin() + 3));
    EXPECT_TRUE(Frames().empty());
    Add(Bytes(request.begin() + 3, request.end()), Gap / 2);
    EXPECT_EQ(Frames(), std::vector<Bytes>{request});
}

TEST_F(SimFramerTest, APauseOfMoreThanThreeAndAHalfCharactersDropsATornRequest) {
    const Bytes request = BlockRequest(1, 5);
    Add(Bytes(request.begin(), request.begin() + 3));
    Add(Bytes(request.begin() + 3, request.end()), Gap * 2);
    EXPECT_TRUE(Frames().empty());
    EXPECT_EQ(framer.Pending(), 3);
}

TEST_F(SimFramerTest, GarbageIsDroppedUntilAGoodFrameLinesUp) {
    Bytes bad = BlockRequest(1, 1);
    bad[5] ^= 0x40;
    Bytes line{0x00, 0x43, 0xFF};
    line.insert(line.end(), bad.begin(), bad.end());
    const Bytes good = BlockRequest(2, 7);
    line.insert(line.end(), good.begin(), good.end());
    Add(line);
    EXPECT_EQ(Frames(), std::vector<Bytes>{good});
    EXPECT_EQ(framer.Pending(), 0);
}

TEST_F(SimFramerTest, AnUnfinishedLongFrameDoesNotHoldUpAGoodOneBehindIt) {
    Bytes line{5, 15, 0, 0, 0, 8, 200}; // says 200 more bytes follow
    const Bytes good = BlockRequest(2, 7);
    line.insert(line.end(), good.begin(), good.end());
    Add(line);
    EXPECT_EQ(Frames(), std::vector<Bytes>{good});
}

TEST_F(SimFramerTest, AFloodKeepsOnlyTheNewestBytes) {
    Add(Bytes(5000, 0x55));
    EXPECT_LE(framer.Pending(), 1024);
    const Bytes good = BlockRequest(3, 1);
    Add(good);
    EXPECT_EQ(Frames(), std::vector<Bytes>{good});
}

TEST_F(SimFramerTest, TheFirstByteTimesTheRequest) {
    const Bytes request = BlockRequest(1, 5);
    const Clock::time_point first = now + microseconds{100};
    Add(Bytes(request.begin(), request.begin() + 2), microseconds{100});
    Add(Bytes(request.begin() + 2, request.end()), microseconds{900});
    sim::Request got;
    ASSERT_TRUE(framer.Next(got));
    EXPECT_EQ(got.start, first);
}

} // namespace
} // namespace kve17::test
