// The view's HTTP interface (see http_routes.h).
#include "tools/tavcam/view/http_routes.h"

#include <httplib.h>

#include <chrono>
#include <memory>

#include "tools/tavcam/cli_support.h"
#include "tools/tavcam/view/camera_hub.h"
#include "tools/tavcam/view/camera_requests.h"
#include "tools/tavcam/view/jpeg_encoder.h"
#include "tools/tavcam/view/json_writer.h"
#include "tools/tavcam/view/view_page.h"

namespace view {
namespace {

constexpr char kBoundary[] = "tavcamframe";
// A viewer waits this long for a picture before it looks whether it should go.
constexpr int kPartWaitMs = 500;
// Without a new picture for this long, a viewer is sent the last one again:
// a viewer that went away is noticed even while the camera sends nothing.
constexpr auto kResendAfter = std::chrono::seconds(2);

void Send(httplib::Response& res, const Reply& r) {
    res.status = r.status;
    res.set_header("Cache-Control", "no-store");
    if (!r.filename.empty())
        res.set_header("Content-Disposition", "attachment; filename=\"" + r.filename + "\"");
    res.set_content(r.body, r.type.c_str());
}

void Refuse(httplib::Response& res, int status, const std::string& message) {
    Send(res, Refusal(status, message));
}

// The camera a request names (camera=NAME); otherwise 400 or 404 sent.
bool NamedCamera(Hub& hub, const httplib::Request& req, httplib::Response& res, std::string* name,
                 int* index) {
    if (!req.has_param("camera")) {
        Refuse(res, 400, "say which camera: camera=NAME");
        return false;
    }
    *name = req.get_param_value("camera");
    *index = FindCamera(hub, *name);
    if (*index < 0) {
        Refuse(res, 404, "no camera named " + *name);
        return false;
    }
    return true;
}

// A number parameter; otherwise 400 sent.
bool NumberParam(const httplib::Request& req, httplib::Response& res, const char* key,
                 uint32_t* value) {
    if (!req.has_param(key) || !ParseNumber(req.get_param_value(key).c_str(), value)) {
        Refuse(res, 400, std::string(key) + "= must be a number from 0 to 4294967295");
        return false;
    }
    return true;
}

void CameraList(Hub& hub, const std::string& initial, httplib::Response& res) {
    JsonWriter w;
    w.BeginObject();
    {
        std::lock_guard<std::mutex> hold(hub.lock);
        w.Key("generation").Value(hub.generation).Key("plugAndPlay").Value(hub.plugAndPlay);
        w.Key("cameras").BeginArray();
        for (int k = 0; k < TAVCAM_MAX_CAMERAS; ++k) {
            if (hub.slots[k].name.empty()) continue;
            w.BeginObject().Key("name").Value(hub.slots[k].name).Key("index").Value(k);
            w.EndObject();
        }
        w.EndArray();
    }
    w.Key("initial").Value(initial).EndObject();
    Reply r;
    r.body = w.text;
    Send(res, r);
}

const char* StateName(StreamState s) {
    return s == StreamState::Running ? "running" : s == StreamState::Failed ? "failed" : "idle";
}

void Statistics(Hub& hub, const std::string& name, int index, httplib::Response& res) {
    LiveVideoStatistics s{};
    USBGetLiveVideoStatistics(name.c_str(), &s);  // any thread may ask
    JsonWriter w;
    w.BeginObject();
    w.Key("running").Value(s.bRunning != 0).Key("frames").Value(s.nFramesDelivered);
    w.Key("transfers").Value(s.nTransfers).Key("droppedSize").Value(s.nDroppedSize);
    w.Key("droppedMarkers").Value(s.nDroppedMarkers).Key("noRoom").Value(s.nNoRoom);
    w.Key("restarts").Value(s.nRestarts).Key("readFailures").Value(s.nReadFailures);
    {
        std::lock_guard<std::mutex> hold(hub.lock);
        const CameraSlot& slot = hub.slots[index];
        w.Key("fps").Value(slot.framesPerSecond);
        w.Key("viewers").Value(slot.viewers).Key("state").Value(StateName(slot.state));
        w.Key("failure").Value(slot.failure).Key("generation").Value(hub.generation);
    }
    w.EndObject();
    Reply r;
    r.body = w.text;
    Send(res, r);
}

// A stand-in picture sent to a viewer before the camera's first.
std::shared_ptr<const JpegFrame> WaitingPicture() {
    static const std::shared_ptr<const JpegFrame> picture = [] {
        auto frame = std::make_shared<JpegFrame>();
        uint8_t grey[16 * 16];
        for (uint8_t& g : grey) g = 0x40;
        JpegEncoder encoder;
        EncodeJpeg(encoder, Picture{grey, 16, 16, 8}, &frame->bytes);
        return frame;
    }();
    return picture;
}

struct Viewer {
    int index;
    uint64_t epoch;
    uint64_t sent = 0;  // number of the last picture sent
    std::shared_ptr<const JpegFrame> last;
    std::chrono::steady_clock::time_point sentAt;
};

bool Stopping(Hub& hub) {
    std::lock_guard<std::mutex> hold(hub.lock);
    return hub.stopping;
}

// One part of the viewer's stream: false ends the response (the stream
// ended, or the viewer is gone: a write that fails).
bool SendNextPart(Hub& hub, Viewer& v, httplib::DataSink& sink) {
    bool ended = false;
    std::shared_ptr<const JpegFrame> jpeg =
        WaitForJpeg(hub.slots[v.index].frames, v.sent, v.epoch, kPartWaitMs, &ended);
    if (ended || Stopping(hub)) return false;
    const auto now = std::chrono::steady_clock::now();
    if (!jpeg) {
        if (now - v.sentAt < kResendAfter) return true;
        jpeg = v.last ? v.last : WaitingPicture();
    }
    std::string part =
        std::string("--") + kBoundary +
        "\r\nContent-Type: image/jpeg\r\nContent-Length: " + std::to_string(jpeg->bytes.size()) +
        "\r\n\r\n";
    part += jpeg->bytes;
    part += "\r\n";
    if (!sink.write(part.data(), part.size())) return false;
    if (jpeg->number > v.sent) v.sent = jpeg->number;
    v.last = jpeg->number ? jpeg : v.last;
    v.sentAt = now;
    return true;
}

void LiveStream(Hub& hub, const httplib::Request& req, httplib::Response& res) {
    std::string name;
    int index;
    if (!NamedCamera(hub, req, res, &name, &index)) return;
    auto viewer = std::make_shared<Viewer>();
    viewer->index = index;
    Reply refusal;
    if (!JoinStream(hub, index, name, &viewer->epoch, &refusal)) return Send(res, refusal);
    res.set_header("Cache-Control", "no-store");
    Hub* h = &hub;
    res.set_chunked_content_provider(
        std::string("multipart/x-mixed-replace; boundary=") + kBoundary,
        [h, viewer](size_t, httplib::DataSink& sink) { return SendNextPart(*h, *viewer, sink); },
        [h, viewer](bool) { LeaveStream(*h, viewer->index); });
}

std::string FileName(const std::string& camera, const char* extension) {
    std::string out;
    for (char c : camera) out += (isalnum((unsigned char)c) || c == '-' || c == '_') ? c : '_';
    return out + extension;
}

void Download(Hub& hub, const httplib::Request& req, httplib::Response& res) {
    std::string name;
    int index;
    if (!NamedCamera(hub, req, res, &name, &index)) return;
    std::vector<uint8_t> pixels;
    Picture picture{};
    if (!CopyNewestPicture(hub.slots[index].frames, &pixels, &picture))
        return Refuse(res, 409, "no picture yet: the live view shows one first");
    Reply r;
    const bool png = EncodePng(picture, &r.body);
    if (!png) EncodeBmp(picture, &r.body);  // a program built without libpng
    r.type = png ? "image/png" : "image/bmp";
    r.filename = FileName(name, png ? ".png" : ".bmp");
    Send(res, r);
}

}  // namespace

void AddRoutes(httplib::Server& server, Hub& hub, const std::string& initialCamera) {
    Hub* h = &hub;
    server.Get("/", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(kViewPage, "text/html; charset=utf-8");
    });
    server.Get("/api/cameras", [h, initialCamera](const httplib::Request&, httplib::Response& res) {
        CameraList(*h, initialCamera, res);
    });
    server.Get("/api/stats", [h](const httplib::Request& req, httplib::Response& res) {
        std::string name;
        int index;
        if (NamedCamera(*h, req, res, &name, &index)) Statistics(*h, name, index, res);
    });
    server.Get("/api/camera", [h](const httplib::Request& req, httplib::Response& res) {
        std::string name;
        int index;
        if (!NamedCamera(*h, req, res, &name, &index)) return;
        Send(res, CallLibrary(*h, [h, index, name] { return DescribeCamera(*h, index, name); }));
    });
    server.Post("/api/feature", [h](const httplib::Request& req, httplib::Response& res) {
        std::string name;
        int index;
        uint32_t value;
        if (!NamedCamera(*h, req, res, &name, &index)) return;
        if (!req.has_param("feature")) return Refuse(res, 400, "say which feature: feature=NAME");
        if (!NumberParam(req, res, "value", &value)) return;
        const std::string feature = req.get_param_value("feature");
        Send(res, CallLibrary(*h, [=] { return SetFeature(*h, index, name, feature, value); }));
    });
    server.Post("/api/format", [h](const httplib::Request& req, httplib::Response& res) {
        std::string name;
        int index;
        uint32_t format;
        if (!NamedCamera(*h, req, res, &name, &index) || !NumberParam(req, res, "index", &format))
            return;
        Send(res, CallLibrary(*h, [=] { return SetFormat(*h, index, name, format); }));
    });
    server.Post("/api/area", [h](const httplib::Request& req, httplib::Response& res) {
        std::string name;
        int index;
        uint32_t area[4];
        if (!NamedCamera(*h, req, res, &name, &index)) return;
        const char* keys[4] = {"left", "top", "width", "height"};
        for (int i = 0; i < 4; ++i)
            if (!NumberParam(req, res, keys[i], &area[i])) return;
        Send(res, CallLibrary(*h, [=] { return SetArea(*h, index, name, area); }));
    });
    server.Post("/api/preset", [h](const httplib::Request& req, httplib::Response& res) {
        std::string name;
        int index;
        uint32_t preset;
        if (!NamedCamera(*h, req, res, &name, &index)) return;
        const std::string action = req.get_param_value("action");
        if (action != "save" && action != "load")
            return Refuse(res, 400, "action= must be save or load");
        if (!NumberParam(req, res, "preset", &preset)) return;
        const bool save = action == "save";
        Send(res, CallLibrary(*h, [=] { return UsePreset(*h, index, name, save, preset); }));
    });
    server.Get("/stream", [h](const httplib::Request& req, httplib::Response& res) {
        LiveStream(*h, req, res);
    });
    server.Get("/picture", [h](const httplib::Request& req, httplib::Response& res) {
        Download(*h, req, res);
    });
    // Errors the server finds itself (no such page, a malformed request, a
    // body too large) get a message too; those answered above keep theirs.
    server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (!res.body.empty()) return;
        const char* what = res.status == 404   ? "no such page"
                           : res.status == 400 ? "malformed request"
                           : res.status == 413 ? "request too large"
                                               : "request refused";
        res.set_content(ErrorJson(what), "application/json");
    });
    server.set_exception_handler(
        [](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
            res.status = 500;
            res.set_content(ErrorJson("the request failed inside tavcam view"), "application/json");
        });
    server.set_payload_max_length(kMaxRequestBody);
}

}  // namespace view
