// tavcam-camsim: runs the camera simulator as a process, serving simulated
// cameras in a device directory until SIGTERM or SIGINT, then removes their
// sockets.
//
//   tavcam-camsim [--dir DIR] [--state FILE] [--tcp] --camera KIND:NAME[:OPTION,...] ...
//
// KIND: short (model 1, short SaveData), long (model 2), busy (model 3,
// answers the busy-status query), twobyte (model 5, 16-bit frames with
// 0xFF / 0xFE markers). OPTIONs: format=CODE (the first format gets this
// format code, with the sample sizes its conversion needs), mono (format 1
// delivered as 8-bit monochrome instead of colour), fixed (a fixed format
// instead of a partial one), fps=N, frameinfo, busy=N (the busy status),
// socket=FILE (default camK.sock for the K-th camera, from 0), size=WxH
// (every format W x H instead of 320 x 240), repeat=N (frame n shows the image
// of frame n % N, rendered once: a camera that keeps up with any reader).
//
// --tcp serves the cameras over loopback TCP instead, for the Windows build
// under test: camK.tcp files holding "127.0.0.1:PORT" (see sim.h).
//
// SIGUSR1 unplugs every camera (their sockets go away and their connections
// break), SIGUSR2 plugs them back with their flash as it was: hot-plug for
// tests that run the simulator as a process.
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "sim/sim.h"

namespace {

void Usage() {
    fprintf(stderr,
            "usage: tavcam-camsim [--dir DIR] [--state FILE] [--tcp] --camera "
            "KIND:NAME[:OPTION,...]...\n"
            "  KIND    short | long | busy | twobyte\n"
            "  OPTION  format=CODE | mono | fixed | fps=N | frameinfo | busy=N | socket=FILE |\n"
            "          size=WxH | repeat=N\n"
            "  DIR defaults to $TAVCAM_DEVICE_DIR, else /tmp/tavcam-UID/devices\n"
            "  --tcp   serve over loopback TCP: camK.tcp files holding 127.0.0.1:PORT\n");
}

bool ParseModel(const std::string& kind, sim::Model* model) {
    if (kind == "short")
        *model = sim::Model::ShortLayout;
    else if (kind == "long")
        *model = sim::Model::LongLayout;
    else if (kind == "busy")
        *model = sim::Model::Busy;
    else if (kind == "twobyte")
        *model = sim::Model::TwoByteMarkers;
    else
        return false;
    return true;
}

// Sample sizes (raw bits, output bits) each format code's conversion takes.
bool FormatBits(uint32_t code, bool mono, uint32_t* rawBits, uint32_t* outBits) {
    switch (code) {
        case 1:
            *rawBits = 8;
            *outBits = mono ? 8 : 24;
            return true;
        case 2:
            *rawBits = 8;
            *outBits = 8;
            return true;
        case 10:
        case 255:
            *rawBits = 8;
            *outBits = 24;
            return true;
        case 12:
        case 100:
        case 110:
        case 115:
            *rawBits = 16;
            *outBits = 8;
            return true;
        case 200:
        case 210:
            *rawBits = 16;
            *outBits = 24;
            return true;
        default:
            return false;
    }
}

bool ParseCamera(const std::string& spec, int index, sim::Profile* out) {
    size_t colon = spec.find(':');
    if (colon == std::string::npos) return false;
    sim::Model model;
    if (!ParseModel(spec.substr(0, colon), &model)) return false;
    std::string rest = spec.substr(colon + 1);
    size_t colon2 = rest.find(':');
    std::string name = rest.substr(0, colon2);
    std::string options = colon2 == std::string::npos ? "" : rest.substr(colon2 + 1);
    if (name.empty() || name.size() > 252) return false;
    std::string socket = "cam" + std::to_string(index) + ".sock";
    long format = -1, fps = -1, busy = -1, repeat = -1;
    unsigned long width = 0, height = 0;
    bool mono = false, fixed = false, frameInfo = false;
    size_t pos = 0;
    while (pos < options.size()) {
        size_t comma = options.find(',', pos);
        std::string opt =
            options.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
        pos = comma == std::string::npos ? options.size() : comma + 1;
        if (opt.rfind("format=", 0) == 0)
            format = strtol(opt.c_str() + 7, nullptr, 10);
        else if (opt.rfind("fps=", 0) == 0)
            fps = strtol(opt.c_str() + 4, nullptr, 10);
        else if (opt.rfind("busy=", 0) == 0)
            busy = strtol(opt.c_str() + 5, nullptr, 10);
        else if (opt.rfind("repeat=", 0) == 0)
            repeat = strtol(opt.c_str() + 7, nullptr, 10);
        else if (opt.rfind("size=", 0) == 0) {
            char* end = nullptr;
            width = strtoul(opt.c_str() + 5, &end, 10);
            if (*end != 'x') return false;
            height = strtoul(end + 1, &end, 10);
            if (*end) return false;
        } else if (opt.rfind("socket=", 0) == 0)
            socket = opt.substr(7);
        else if (opt == "mono")
            mono = true;
        else if (opt == "fixed")
            fixed = true;
        else if (opt == "frameinfo")
            frameInfo = true;
        else if (!opt.empty())
            return false;
    }
    if (format >= 0) {
        uint32_t raw, outBits;
        if (!FormatBits((uint32_t)format, mono, &raw, &outBits)) return false;
        *out = sim::MakeFormatProfile(model, name, socket, (uint32_t)format, raw, outBits, !fixed);
    } else {
        *out = sim::MakeProfile(model, name, socket);
    }
    if ((width || height) && !sim::SetImageSize(out, (uint32_t)width, (uint32_t)height))
        return false;
    if (fps >= 0) out->framesPerSecond = (uint32_t)fps;
    if (repeat >= 0) out->repeatImages = (uint32_t)repeat;
    if (busy >= 0) out->busyStatus = (uint32_t)busy;
    out->frameInfo = frameInfo;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::string dir;
    std::string state;
    std::vector<sim::Profile> cameras;
    bool tcp = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--tcp") {
            tcp = true;
            continue;
        }
        if ((arg == "--dir" || arg == "--state" || arg == "--camera") && i + 1 < argc) {
            std::string value = argv[++i];
            if (arg == "--dir") {
                dir = value;
            } else if (arg == "--state") {
                state = value;
            } else {
                sim::Profile p;
                if (!ParseCamera(value, (int)cameras.size(), &p)) {
                    fprintf(stderr, "tavcam-camsim: bad camera '%s'\n", value.c_str());
                    Usage();
                    return 2;
                }
                cameras.push_back(p);
            }
        } else if (arg == "--help" || arg == "-h") {
            Usage();
            return 0;
        } else {
            fprintf(stderr, "tavcam-camsim: unknown argument '%s'\n", arg.c_str());
            Usage();
            return 2;
        }
    }
    if (dir.empty()) {
        const char* env = getenv("TAVCAM_DEVICE_DIR");
        dir = env && *env ? env
                          : "/tmp/tavcam-" + std::to_string((unsigned long)getuid()) + "/devices";
    }
    if (cameras.empty()) {
        Usage();
        return 2;
    }

    // The signals are taken synchronously below; block them before any
    // server thread starts, so every thread inherits the mask.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGHUP);
    sigaddset(&signals, SIGUSR1);
    sigaddset(&signals, SIGUSR2);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    sim::Server* server = sim::Start(dir, state);
    if (!server) {
        fprintf(stderr, "tavcam-camsim: can't serve in %s\n", dir.c_str());
        return 1;
    }
    if (tcp) sim::UseLoopbackTcp(server);
    for (const sim::Profile& p : cameras) {
        int n = sim::Plug(server, p);
        if (n < 0) {
            fprintf(stderr, "tavcam-camsim: can't plug %s\n", p.socketName.c_str());
            sim::Stop(server);
            return 1;
        }
        printf("camera %d: %s (model %u)\n", n, sim::SocketPath(server, n).c_str(),
               sim::ProfileModel(p));
    }
    fflush(stdout);
    for (;;) {
        int sig = 0;
        if (sigwait(&signals, &sig) != 0) continue;
        if (sig == SIGUSR1 || sig == SIGUSR2) {
            for (int n = 0; n < (int)cameras.size(); ++n) {
                if (sig == SIGUSR1)
                    sim::Unplug(server, n);
                else
                    sim::PlugBack(server, n);
            }
            continue;
        }
        break;
    }
    sim::Stop(server);  // removes the sockets
    return 0;
}
