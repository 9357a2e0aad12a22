// The state file: every camera's flash pages, kept across restarts of the
// server. It is rewritten whole at every committed flash write, into a
// temporary file that is synced and then renamed over the old one, so a
// server killed at any moment leaves either the old or the new file, never a
// torn one. A file that fails its checks (magic, sizes, checksum) is ignored.
//
// Layout (little-endian): "TAVSIMST", version 1, camera count; per camera the
// socket name (length, bytes) and its three pages (length, bytes); at the end
// a 64-bit FNV-1a checksum of everything before it.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "sim/internal.h"

namespace sim {
namespace {

constexpr char kMagic[8] = {'T', 'A', 'V', 'S', 'I', 'M', 'S', 'T'};
constexpr uint32_t kVersion = 1;

uint64_t Fnv1a(const uint8_t* p, size_t n) {
    uint64_t h = 0xCBF29CE484222325ull;
    for (size_t i = 0; i < n; ++i) {
        h ^= p[i];
        h *= 0x100000001B3ull;
    }
    return h;
}

void Put32(std::vector<uint8_t>& out, uint32_t v) {
    uint8_t b[4];
    PutLE32(b, v);
    out.insert(out.end(), b, b + 4);
}

struct Cursor {
    const uint8_t* p;
    size_t left;
    bool Take(void* dst, size_t n) {
        if (n > left) return false;
        memcpy(dst, p, n);
        p += n;
        left -= n;
        return true;
    }
    bool Take32(uint32_t* v) {
        uint8_t b[4];
        if (!Take(b, 4)) return false;
        *v = GetLE32(b);
        return true;
    }
};

bool WriteAll(int fd, const uint8_t* p, size_t n) {
    while (n > 0) {
        ssize_t w = write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        n -= (size_t)w;
    }
    return true;
}

}  // namespace

bool SaveState(const std::string& file,
               const std::map<std::string, std::vector<std::vector<uint8_t>>>& pages) {
    std::vector<uint8_t> out(kMagic, kMagic + sizeof(kMagic));
    Put32(out, kVersion);
    Put32(out, (uint32_t)pages.size());
    for (const auto& entry : pages) {
        Put32(out, (uint32_t)entry.first.size());
        out.insert(out.end(), entry.first.begin(), entry.first.end());
        for (int p = 0; p < kPages; ++p) {
            const std::vector<uint8_t>& page = entry.second[(size_t)p];
            Put32(out, (uint32_t)page.size());
            out.insert(out.end(), page.begin(), page.end());
        }
    }
    uint64_t sum = Fnv1a(out.data(), out.size());
    Put32(out, (uint32_t)sum);
    Put32(out, (uint32_t)(sum >> 32));

    const std::string temp = file + ".tmp";
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    bool ok = WriteAll(fd, out.data(), out.size()) && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (!ok || rename(temp.c_str(), file.c_str()) != 0) {
        unlink(temp.c_str());
        return false;
    }
    // Make the rename itself durable.
    size_t slash = file.rfind('/');
    std::string dir = slash == std::string::npos ? "." : file.substr(0, slash + 1);
    int dfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        fsync(dfd);
        close(dfd);
    }
    return true;
}

bool LoadState(const std::string& file,
               std::map<std::string, std::vector<std::vector<uint8_t>>>* out) {
    out->clear();
    FILE* f = fopen(file.c_str(), "rbe");
    if (!f) return false;
    std::vector<uint8_t> bytes;
    uint8_t buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), f)) > 0) bytes.insert(bytes.end(), buf, buf + n);
    fclose(f);
    if (bytes.size() < sizeof(kMagic) + 16) return false;
    const size_t body = bytes.size() - 8;
    const uint64_t sum = (uint64_t)GetLE32(&bytes[body]) | (uint64_t)GetLE32(&bytes[body + 4])
                                                               << 32;
    if (memcmp(bytes.data(), kMagic, sizeof(kMagic)) != 0 || Fnv1a(bytes.data(), body) != sum)
        return false;
    Cursor c{bytes.data() + sizeof(kMagic), body - sizeof(kMagic)};
    uint32_t version, count;
    if (!c.Take32(&version) || version != kVersion || !c.Take32(&count)) return false;
    std::map<std::string, std::vector<std::vector<uint8_t>>> result;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t len;
        if (!c.Take32(&len) || len > 255) return false;
        std::string name(len, '\0');
        if (!c.Take(&name[0], len)) return false;
        std::vector<std::vector<uint8_t>> pages(kPages);
        for (int p = 0; p < kPages; ++p) {
            if (!c.Take32(&len) || len != kFlashPageBytes) return false;
            pages[(size_t)p].resize(len);
            if (!c.Take(pages[(size_t)p].data(), len)) return false;
        }
        result[name] = std::move(pages);
    }
    if (c.left != 0) return false;
    *out = std::move(result);
    return true;
}

void PersistPages(Camera* cam) {
    Server* server = cam->server;
    if (server->stateFile.empty()) return;
    std::lock_guard<std::mutex> guard(server->stateMu);
    std::vector<std::vector<uint8_t>>& pages = server->persisted[cam->profile.socketName];
    pages.assign(cam->pages, cam->pages + kPages);
    SaveState(server->stateFile, server->persisted);
}

}  // namespace sim
