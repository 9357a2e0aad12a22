// Writes the seed corpora of the camera harnesses from the simulator's
// profiles, in the encodings each harness documents at its top:
//   fuzz_flash_pages  every profile's two pages, with and without a script
//                     that makes each configuration call once;
//   fuzz_replies      each call with the replies the simulated camera gives;
//   fuzz_stream       every format with every call, the camera's own transfers.
// Usage: tavcam-fuzz-seeds CORPUS_DIR   (writes CORPUS_DIR/<harness>/<seed>)
#include <stdio.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "fuzz/camera_fuzz.h"
#include "sim/sim.h"

namespace {

using camera_fuzz::PutByte;
using camera_fuzz::PutWord;
using Bytes = std::vector<uint8_t>;

bool Write(const std::string& dir, const std::string& name, const Bytes& bytes) {
    mkdir(dir.c_str(), 0755);
    FILE* f = fopen((dir + "/" + name).c_str(), "wb");
    if (!f) return false;
    bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
}

struct NamedProfile {
    const char* name;
    sim::Profile profile;
};

std::vector<NamedProfile> Profiles() {
    using sim::Model;
    return {
        {"short", sim::MakeProfile(Model::ShortLayout, "AreaCam", "cam0.sock")},
        {"long", sim::MakeProfile(Model::LongLayout, "LineScan", "cam0.sock")},
        {"busy", sim::MakeProfile(Model::Busy, "BusyCam", "cam0.sock")},
        {"twobyte", sim::MakeProfile(Model::TwoByteMarkers, "TwoByte", "cam0.sock")},
        {"colour-fixed",
         sim::MakeFormatProfile(Model::LongLayout, "Colour", "cam0.sock", 1, 8, 24, false)},
        {"yuv", sim::MakeFormatProfile(Model::LongLayout, "Yuv", "cam0.sock", 10, 8, 24, true)},
    };
}

// ---- fuzz_flash_pages -----------------------------------------------------------------

Bytes FlashScript(const Bytes& page1) {
    Bytes s;
    PutByte(&s, 0);                  // USBInitDevice again
    PutByte(&s, 1);                  // USBReadDeviceParams
    PutByte(&s, 2), PutByte(&s, 1);  // USBLoadParams 1
    PutByte(&s, 3), PutByte(&s, 2);  // USBSaveParams 2
    PutByte(&s, 4), PutByte(&s, 1);  // USBSetFormat 1
    PutByte(&s, 4), PutByte(&s, 0);  // and back
    PutByte(&s, 5);                  // USBSetScanArea 0, 0, 64, 32
    for (uint32_t v : {0u, 0u, 64u, 32u}) PutWord(&s, v);
    PutByte(&s, 6), PutByte(&s, 3), PutWord(&s, 100);   // brightness 100
    PutByte(&s, 7), PutByte(&s, 23);                    // input lines
    PutByte(&s, 8), PutByte(&s, 1);                     // trigger mode on
    PutByte(&s, 9), PutByte(&s, 4), PutByte(&s, 1);     // auto exposure
    PutByte(&s, 10), PutByte(&s, 0), PutWord(&s, 128);  // table 3, 128 bytes
    PutByte(&s, 11);                                    // the camera list
    PutByte(&s, 12);                                    // a camera window
    for (uint32_t v : {0u, 0u, 64u, 32u}) PutWord(&s, v);
    PutByte(&s, 13);  // presets changed elsewhere
    s.insert(s.end(), page1.begin(), page1.end());
    return s;
}

bool FlashSeeds(const std::string& dir) {
    bool ok = true;
    for (const NamedProfile& n : Profiles()) {
        Bytes pages = n.profile.page0;
        Bytes page1 = n.profile.page1;
        page1.resize(202, 0xFF);
        pages.insert(pages.end(), page1.begin(), page1.end());
        ok &= Write(dir, n.name, pages);
        Bytes scripted = pages;
        Bytes script = FlashScript(page1);
        scripted.insert(scripted.end(), script.begin(), script.end());
        ok &= Write(dir, std::string(n.name) + "-calls", scripted);
    }
    return ok;
}

// ---- fuzz_replies --------------------------------------------------------------------------

// A reply of the bytes given (up to 64).
void Reply(Bytes* s, const Bytes& answer) {
    PutByte(s, (uint32_t)answer.size());
    s->insert(s->end(), answer.begin(), answer.end());
}

// The 64-byte pieces of a flash read of `size` bytes of `page`.
void PageReplies(Bytes* s, const Bytes& page, size_t size) {
    for (size_t at = 0; at < size; at += 64) {
        Bytes piece(64, 0xFF);
        for (size_t i = 0; i < 64 && at + i < page.size(); ++i) piece[i] = page[at + i];
        Reply(s, piece);
    }
}

bool ReplySeeds(const std::string& dir) {
    const sim::Profile p = sim::MakeProfile(sim::Model::Busy, "FuzzBusy", "cam0.sock");
    const Bytes idle = {0, 0, 0, 0};
    struct Seed {
        const char* name;
        Bytes bytes;
    };
    std::vector<Seed> seeds;
    auto add = [&](const char* name, std::initializer_list<uint32_t> call) {
        seeds.push_back({name, {}});
        for (uint32_t b : call) PutByte(&seeds.back().bytes, b);
        return &seeds.back().bytes;
    };
    Reply(add("status", {0}), idle);
    Reply(add("register", {1, 0x08, 0x1E}), {0x00, 0x05, 0, 0, 0, 0, 0, 0});
    Reply(add("i2c", {2, 122, 0x10}), {0x12, 0x34});
    Bytes* id = add("identification", {3});
    PageReplies(id, p.identification, 128);
    PageReplies(add("record", {4, 0, 0xE0, 0x07}), p.page0, 2016);
    Reply(add("flash-write", {5, 201, 0}), {0x00, 0x02});
    Bytes* init = add("init-new", {7});
    Reply(init, idle);
    PageReplies(init, p.page0, 2016);
    PageReplies(init, p.page1, 202);
    Bytes* format = add("format", {8, 1});
    Reply(format, idle);
    Reply(format, idle);
    Reply(add("scan-area", {9, 8, 8}), idle);
    Reply(add("input-lines", {10, 1}), {0x00, 0x0F, 0, 0, 0, 0, 0, 0});
    Reply(add("save", {11, 1}), {0x00, 0x01});
    PageReplies(add("load", {12, 2}), p.page1, 202);
    PageReplies(add("list", {13}), p.page0, 2016);
    Reply(add("live", {14}), idle);
    Bytes* busy = add("busy", {6});
    Reply(busy, {0, 0, 0, 1});
    bool ok = true;
    for (const Seed& s : seeds) ok &= Write(dir, s.name, s.bytes);
    return ok;
}

// ---- fuzz_stream ---------------------------------------------------------------------------

bool StreamSeeds(const std::string& dir) {
    const char* calls[] = {"capture", "capture-ex", "capture-ex-direct", "live", "callback"};
    bool ok = true;
    for (uint32_t format = 0; format < 15; ++format) {
        for (uint32_t call = 0; call < 5; ++call) {
            Bytes s;
            PutByte(&s, format);
            PutByte(&s, format % 3);  // width 32, 36 or 40
            PutByte(&s, format % 2);  // height 16 or 18
            PutByte(&s, call);
            PutByte(&s, 1);                              // two pictures
            PutByte(&s, format % 2 ? 0x0F : 1);          // sequence, information, ppRawFrame
            for (int t = 0; t < 4; ++t) PutByte(&s, 0);  // four transfers as sent
            ok &= Write(dir, "format" + std::to_string(format) + "-" + calls[call], s);
        }
    }
    // What a camera that lies sends, once each into every loop on a colour
    // format: wrong sizes, two bytes, wrong markers, a failed read, and
    // frames whose channel bytes and information records say other things.
    for (uint32_t call = 0; call < 5; ++call) {
        Bytes s;
        for (uint32_t b : {2u, 0u, 0u, call, 1u, 0x0Fu}) PutByte(&s, b);  // sequential colour
        PutByte(&s, 2), PutByte(&s, 0);                                   // one byte short
        PutByte(&s, 3), PutByte(&s, 9);                                   // ten bytes long
        PutByte(&s, 1);                                                   // two bytes
        PutByte(&s, 0x10);                                                // a wrong start marker
        for (uint32_t b : {0u, 0u, 0x55u}) PutByte(&s, b);
        PutByte(&s, 0x10);  // a wrong end marker
        for (uint32_t b : {0u, 1u, 0x55u}) PutByte(&s, b);
        PutByte(&s, 4);     // a failed read
        PutByte(&s, 0x30);  // channels 7 and 2 in frames 0 and 1
        for (uint32_t b : {0u, 2u, 7u, 1u, 2u, 2u}) PutByte(&s, b);
        PutByte(&s, 0x40);  // an information record claiming 0xFFFF words
        for (uint32_t b : {0u, 4u, 0x77u, 0u, 5u, 0x77u, 0u, 6u, 0xFFu, 0u, 7u, 0xFFu})
            PutByte(&s, b);
        PutByte(&s, 0);
        ok &= Write(dir, std::string("lies-") + calls[call], s);
    }
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
        return 2;
    }
    const std::string root = argv[1];
    mkdir(root.c_str(), 0755);
    bool ok = FlashSeeds(root + "/fuzz_flash_pages") && ReplySeeds(root + "/fuzz_replies") &&
              StreamSeeds(root + "/fuzz_stream");
    if (!ok) fprintf(stderr, "%s: could not write the seeds\n", argv[0]);
    return ok ? 0 : 1;
}