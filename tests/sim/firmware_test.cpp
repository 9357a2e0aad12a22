// The simulated camera's firmware as the library's tests rely on it: the flash
// write sequence, registers, I2C, identification, busy status, table upload,
// faults, the request log and the profiles' records.
#include <string.h>

#include <atomic>

#include "include/tavcam.h"
#include "sim_client.h"

namespace simtest {
namespace {

Bytes FlashBlock(uint8_t page, uint8_t code) {
    return Block(page, code, {0, 0, 0, 0, 0, 0});
}

Bytes WriteBlock(uint8_t page, uint16_t offset, const Bytes& data) {
    Bytes params(3 + data.size());
    params[0] = (uint8_t)(offset >> 8);
    params[1] = (uint8_t)offset;
    params[2] = (uint8_t)data.size();
    std::copy(data.begin(), data.end(), params.begin() + 3);
    return Block(page, 2, params);
}

uint16_t Status(HANDLE h, uint8_t page) {
    EXPECT_TRUE(Send(h, FlashBlock(page, 0)));
    Bytes a = Fetch(h);
    return a.size() == 64 ? (uint16_t)(a[0] << 8 | a[1]) : 0xFFFF;
}

Bytes ReadFlash(HANDLE h, uint8_t page, size_t size) {
    Bytes out;
    for (size_t off = 0; off < size; off += 64) {
        EXPECT_TRUE(Send(h, Block(page, 3, {(uint8_t)(off >> 8), (uint8_t)off, 64, 0, 0, 0})));
        Bytes a = Fetch(h);
        out.insert(out.end(), a.begin(), a.end());
    }
    out.resize(size);
    return out;
}

Bytes Pattern(size_t n, uint8_t salt) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = (uint8_t)(i * 13 + salt);
    return b;
}

// Writes data to a page as the library does: begin, poll until ready, chunks
// of 51 bytes and a final short chunk. Stops before the final one if asked.
void WritePage(HANDLE h, uint8_t page, const Bytes& data, bool final = true) {
    ASSERT_TRUE(Send(h, FlashBlock(page, 1)));
    for (int polls = 0; Status(h, page) != page; ++polls) ASSERT_LT(polls, 10);
    size_t k = 0;
    for (; k + 51 <= data.size(); k += 51)
        ASSERT_TRUE(
            Send(h, WriteBlock(page, (uint16_t)k,
                               Bytes(data.begin() + (long)k, data.begin() + (long)k + 51))));
    if (final) {
        ASSERT_TRUE(
            Send(h, WriteBlock(page, (uint16_t)k, Bytes(data.begin() + (long)k, data.end()))));
    }
}

TEST_F(SimTest, FlashWriteSequenceCommitsAtTheFinalShortWrite) {
    sim::Profile p = sim::MakeProfile(sim::Model::LongLayout, "LineScan", "a.sock");
    p.flashBusyPolls = 2;
    int cam = sim::Plug(server_, p);
    HANDLE h = Open(cam);
    const Bytes original = sim::Flash(server_, cam, 1);
    ASSERT_EQ(original.size(), sim::kFlashPageBytes);
    EXPECT_TRUE(std::equal(p.page1.begin(), p.page1.end(), original.begin()));
    EXPECT_EQ(original[p.page1.size()], 0xFF);

    // No write without a begin, and none before the status said ready.
    EXPECT_FALSE(Send(h, WriteBlock(1, 0, Bytes(10, 1))));
    ASSERT_TRUE(Send(h, FlashBlock(1, 1)));
    EXPECT_FALSE(Send(h, WriteBlock(1, 0, Bytes(51, 1))));
    EXPECT_EQ(Status(h, 1), 0x0080);  // busy twice, as the profile says
    EXPECT_EQ(Status(h, 1), 0x0080);
    EXPECT_EQ(Status(h, 1), 0x0001);  // ready: the page number

    const Bytes data = Pattern(202, 5);
    for (uint16_t k = 0; k < 153; k += 51) {
        ASSERT_TRUE(Send(h, WriteBlock(1, k, Bytes(data.begin() + k, data.begin() + k + 51))));
        EXPECT_EQ(sim::Flash(server_, cam, 1), original) << "committed before the final write";
    }
    ASSERT_TRUE(Send(h, WriteBlock(1, 153, Bytes(data.begin() + 153, data.end()))));
    Bytes page = sim::Flash(server_, cam, 1);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), page.begin()));
    EXPECT_EQ(std::count(page.begin() + 202, page.end(), 0xFF), (long)(page.size() - 202));
    EXPECT_EQ(ReadFlash(h, 1, 202), data);
    // Page 0 is untouched; reads past the record give erased bytes.
    Bytes rec = ReadFlash(h, 0, 2048);
    EXPECT_TRUE(std::equal(p.page0.begin(), p.page0.end(), rec.begin()));
    EXPECT_EQ(rec[2040], 0xFF);

    // A size that is a multiple of 51 ends with a write of count 0.
    const Bytes two = Pattern(102, 9);
    WritePage(h, 2, two);
    EXPECT_TRUE(std::equal(two.begin(), two.end(), sim::Flash(server_, cam, 2).begin()));
    EXPECT_FALSE(Send(h, FlashBlock(3, 1)));  // no page 3
    plat::CloseHandle(h);
}

TEST_F(SimTest, FailedAndCutShortFlashWritesLeaveThePage) {
    int cam = PlugCamera(sim::Model::LongLayout, "LineScan", "a.sock");
    const Bytes original = sim::Flash(server_, cam, 1);
    HANDLE h = Open(cam);
    sim::InjectFault(server_, cam, sim::Fault::FlashWriteError, 0, 1);
    ASSERT_TRUE(Send(h, FlashBlock(1, 1)));
    EXPECT_EQ(Status(h, 1), 0x0020);
    EXPECT_FALSE(Send(h, WriteBlock(1, 0, Bytes(3, 0))));  // the sequence was abandoned
    EXPECT_EQ(sim::Flash(server_, cam, 1), original);

    // Connection lost before the final write: nothing of it reaches the page.
    WritePage(h, 1, Pattern(202, 1), false);
    plat::CloseHandle(h);
    EXPECT_EQ(sim::Flash(server_, cam, 1), original);
    // A later sequence starts afresh.
    h = Open(cam);
    WritePage(h, 1, Pattern(60, 2));
    Bytes page = sim::Flash(server_, cam, 1);
    EXPECT_EQ(Bytes(page.begin(), page.begin() + 60), Pattern(60, 2));
    EXPECT_EQ(page[60], 0xFF);  // the begin erased the rest
    plat::CloseHandle(h);
}

TEST_F(SimTest, RegistersI2CIdentificationStatusAndTables) {
    sim::Profile p = sim::MakeProfile(sim::Model::Busy, "AreaCam", "a.sock");
    int cam = sim::Plug(server_, p);
    HANDLE h = Open(cam);
    // I2C: two bytes high first; the one-byte write sets the first byte only.
    ASSERT_TRUE(Send(h, Block(122, 7, {0x05, 0x12, 0x34})));
    ASSERT_TRUE(Send(h, Block(122, 9, {0x05})));
    Bytes a = Fetch(h);
    EXPECT_EQ(a[0], 0x12);
    EXPECT_EQ(a[1], 0x34);
    ASSERT_TRUE(Send(h, Block(122, 10, {0x05, 0x56})));
    uint16_t v = 0;
    EXPECT_TRUE(sim::I2CRegister(server_, cam, 122, 5, &v));
    EXPECT_EQ(v, 0x5634);
    ASSERT_TRUE(Send(h, Block(0x48, 9, {0x01})));  // every address answers
    EXPECT_EQ(Fetch(h)[0], 0);

    // Identification in two 64-byte pieces.
    ASSERT_TRUE(Send(h, Block(0, 11, {0, 0, 64})));
    Bytes id = Fetch(h);
    ASSERT_TRUE(Send(h, Block(0, 11, {0, 64, 64})));
    Bytes second = Fetch(h);
    id.insert(id.end(), second.begin(), second.end());
    EXPECT_EQ(id, p.identification);

    // Busy status, high byte first.
    sim::SetBusyStatus(server_, cam, 0x00000102);
    ASSERT_TRUE(Send(h, Block(0, 100, {})));
    a = Fetch(h);
    EXPECT_EQ(Bytes(a.begin(), a.begin() + 4), (Bytes{0, 0, 1, 2}));

    // On/off and auto features are recorded; FIFO resets are counted by flag.
    ASSERT_TRUE(Send(h, Block(0, 18, {0x08, 0x30, 0x00, 0x01, 0, 0})));
    ASSERT_TRUE(Send(h, Block(0, 28, {0x08, 0x20, 0x00, 0x02, 0, 0})));
    EXPECT_TRUE(sim::OnOffFeature(server_, cam, 0x830, &v));
    EXPECT_EQ(v, 1);
    EXPECT_TRUE(sim::AutoFeature(server_, cam, 0x820, &v));
    EXPECT_EQ(v, 2);
    EXPECT_FALSE(sim::OnOffFeature(server_, cam, 0x820, &v));
    ASSERT_TRUE(Send(h, Block(0, 5, {1})));
    ASSERT_TRUE(Send(h, Block(0, 5, {0})));
    ASSERT_TRUE(Send(h, Block(0, 5, {1})));
    EXPECT_EQ(sim::FifoResets(server_, cam, 1), 2u);
    EXPECT_EQ(sim::FifoResets(server_, cam, 0), 1u);

    // A register set by the test reads back with 0 as its second word.
    sim::SetRegister(server_, cam, 0x1E08, 0xAB05);
    ASSERT_TRUE(Send(h, Block(0, 12, {0x1E, 0x08, 0, 0}, 3)));
    a = Fetch(h);
    EXPECT_EQ(Bytes(a.begin(), a.begin() + 8), (Bytes{0x05, 0xAB, 0, 0, 0, 0, 0, 0}));

    // A table: the announcement, data requests of length 64, ended by the
    // first request of another length.
    ASSERT_TRUE(Send(h, Block(7, 6, {7, 0xFF, 0xFF})));
    Bytes t1(8, 0), t2(8, 0);
    t1[4] = t2[4] = 64;
    Bytes d1 = Pattern(64, 1), d2 = Pattern(64, 2);
    t1.insert(t1.end(), d1.begin(), d1.end());
    t2.insert(t2.end(), d2.begin(), d2.end());
    ASSERT_TRUE(Send(h, t1));
    ASSERT_TRUE(Send(h, t2));
    ASSERT_TRUE(Send(h, Block(122, 9, {0x05})));  // ends the upload
    Bytes table = sim::Table(server_, cam, 7);
    d1.insert(d1.end(), d2.begin(), d2.end());
    EXPECT_EQ(table, d1);
    Send(h, t1);  // now taken as a command again, not table data
    EXPECT_EQ(sim::Table(server_, cam, 7).size(), 128u);

    // Answers belong to the handle that asked.
    HANDLE other = Open(cam);
    ASSERT_TRUE(Send(h, Block(0, 3, {0, 0, 64, 0, 0, 0})));
    ASSERT_TRUE(Send(other, Block(122, 9, {0x05})));
    EXPECT_EQ(Fetch(h), Bytes(p.page0.begin(), p.page0.begin() + 64));
    EXPECT_EQ(Fetch(other)[0], 0x56);
    plat::CloseHandle(other);
    plat::CloseHandle(h);
}

TEST_F(SimTest, FaultsFailTheNextRequestsOfTheirKind) {
    int cam = PlugCamera(sim::Model::LongLayout, "A", "a.sock");
    HANDLE h = Open(cam);
    sim::InjectFault(server_, cam, sim::Fault::FailRequest, kSendRequest, 2);
    Bytes write = Block(0, 8, {0x08, 0x00, 0x00, 0x10, 0, 0});
    Result r = Ioctl(h, kSendRequest, write, 0);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, 31u);  // ERROR_GEN_FAILURE
    EXPECT_FALSE(sim::Register(server_, cam, 0x800, nullptr)) << "a failed request has no effect";
    EXPECT_TRUE(Fetch(h).size() == 64) << "other codes are not affected";
    EXPECT_FALSE(Send(h, write));
    EXPECT_TRUE(Send(h, write));
    EXPECT_TRUE(sim::Register(server_, cam, 0x800, nullptr));

    sim::InjectFault(server_, cam, sim::Fault::FailRequest, 0, 5);
    EXPECT_TRUE(Fetch(h).empty());
    sim::ClearFaults(server_, cam);
    EXPECT_EQ(Fetch(h).size(), 64u);

    std::vector<sim::Request> log = sim::Log(server_, cam);
    ASSERT_EQ(log.size(), 6u);
    EXPECT_FALSE(log[0].ok);
    EXPECT_TRUE(log[1].ok);
    EXPECT_TRUE(log[3].ok);
    plat::CloseHandle(h);
}

std::atomic<uint64_t> g_fakeNow{0};
uint64_t FakeNow() {
    return g_fakeNow.load();
}

TEST_F(SimTest, TheLogIsStampedOnTheSettableClock) {
    int cam = PlugCamera(sim::Model::LongLayout, "A", "a.sock");
    sim::SetClock(server_, FakeNow);
    HANDLE h = Open(cam);
    g_fakeNow = 1000;
    Send(h, Block(0, 100, {}));
    g_fakeNow = 1100;
    Fetch(h);
    g_fakeNow = 1150;
    Send(h, Block(0, 5, {1}));
    std::vector<sim::Request> log = sim::Log(server_, cam);
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].timeMs, 1000u);
    EXPECT_EQ(log[1].timeMs, 1100u);
    EXPECT_EQ(log[2].timeMs, 1150u);
    EXPECT_EQ(log[2].input, Block(0, 5, {1}));
    sim::ClearLog(server_, cam);
    EXPECT_TRUE(sim::Log(server_, cam).empty());
    sim::SetClock(server_, nullptr);
    plat::CloseHandle(h);
}

CameraRecord RecordOf(const sim::Profile& p) {
    CameraRecord rec;
    EXPECT_EQ(p.page0.size(), sizeof(rec));
    memcpy(&rec, p.page0.data(), sizeof(rec));
    return rec;
}

TEST(SimProfiles, RecordsAndSaveDataOfEachModel) {
    struct Case {
        sim::Model model;
        uint32_t number;
        size_t saveData;
    } cases[] = {{sim::Model::ShortLayout, 1, 138},
                 {sim::Model::LongLayout, 2, 202},
                 {sim::Model::Busy, 3, 202},
                 {sim::Model::TwoByteMarkers, 5, 202}};
    for (const Case& c : cases) {
        sim::Profile p = sim::MakeProfile(c.model, "LineScan", "cam0.sock");
        CameraRecord rec = RecordOf(p);
        EXPECT_EQ(rec.CameraModel, c.number);
        EXPECT_EQ(sim::ProfileModel(p), c.number);
        EXPECT_STREQ(rec.CameraName, "LineScan");
        EXPECT_EQ(p.page1.size(), c.saveData);
        EXPECT_EQ(p.identification.size(), 128u);
        EXPECT_EQ(rec.MaxPreset & 0xF, 3u);
        EXPECT_GE(rec.FormatCount, 1u);
        EXPECT_LT(rec.CurrentFormat, rec.FormatCount);
        const bool twoBytes = c.model == sim::Model::TwoByteMarkers;
        EXPECT_EQ(rec.Formats[0].RawBits, twoBytes ? 16u : 8u);
        // Every preset is a valid scan area of its format, within the shutter range.
        const size_t presetBytes = c.saveData == 138 ? 34 : 50;
        EXPECT_LE(p.page1[0], 3);
        for (size_t k = 0; k < 4; ++k) {
            const uint8_t* q = p.page1.data() + 2 + k * presetBytes;
            const uint32_t left = q[0] | q[1] << 8, top = q[2] | q[3] << 8;
            const uint32_t width = q[4] | q[5] << 8, height = q[6] | q[7] << 8;
            const uint32_t shutter = q[8] | q[9] << 8;
            const uint32_t format = c.saveData == 138 ? (q[22] | q[23] << 8) : q[19];
            ASSERT_LT(format, rec.FormatCount);
            const FormatEntry& f = rec.Formats[format];
            EXPECT_LE(left + width, f.MaxSize >> 16);
            EXPECT_LE(top + height, f.MaxSize & 0xFFFF);
            EXPECT_EQ(width % 4, 0u);
            EXPECT_EQ(height % 2, 0u);
            EXPECT_GE(width, 32u);
            EXPECT_GE(height, 16u);
            EXPECT_LE(shutter, rec.FeatureInq[7] & 0xFFF);
        }
    }
}

TEST(SimProfiles, FormatProfilesOfEveryFormatCode) {
    const uint32_t codes[][3] = {{1, 8, 24},    {1, 8, 8},     {2, 8, 8},    {10, 8, 24},
                                 {12, 16, 8},   {100, 16, 8},  {110, 16, 8}, {115, 16, 8},
                                 {200, 16, 24}, {210, 16, 24}, {255, 8, 24}};
    for (const auto& c : codes) {
        for (bool partial : {false, true}) {
            sim::Profile p = sim::MakeFormatProfile(sim::Model::TwoByteMarkers, "F", "f.sock", c[0],
                                                    c[1], c[2], partial);
            CameraRecord rec = RecordOf(p);
            const FormatEntry& f = rec.Formats[rec.CurrentFormat];
            EXPECT_EQ(f.FormatCode, c[0]);
            EXPECT_EQ(f.RawBits, c[1]);
            EXPECT_EQ(f.OutBits, c[2]);
            EXPECT_EQ(f.PartialScan != 0, partial);
            EXPECT_EQ(f.MaxSize, f.Width << 16 | f.Height);
            if (partial) {
                EXPECT_NE(f.UnitSize >> 16, 0u);
                EXPECT_NE(f.UnitSize & 0xFFFF, 0u);
                EXPECT_EQ(f.Width % (f.UnitSize >> 16), 0u);
            }
        }
    }
}

}  // namespace
}  // namespace simtest
