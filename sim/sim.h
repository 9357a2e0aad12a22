// The camera simulator: a camera server that speaks the camera socket protocol
// and behaves as the camera's controller and firmware do behind the driver.
//
// One server serves any number of simulated cameras, each a Unix socket
// "<name>.sock" in the server's device directory. Tests run a server in their
// own process (it serves on threads of its own) on a private device directory;
// the program tavcam-camsim runs one as a process.
//
// Everything a test needs to check the library against the camera is here:
// the request log (exact bytes, order and time of every request), the flash
// pages, the register file, fault injection and hot-plug.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

namespace sim {

// ---- Camera profiles -------------------------------------------------------------

// What a simulated camera is: its flash contents when first plugged (unless a
// state file already holds its pages), its identification block, and the
// firmware behaviour that differs between models.
struct Profile {
    std::string socketName;               // file name in the device directory, "cam0.sock"
    std::vector<uint8_t> page0;           // camera record, 2016 bytes
    std::vector<uint8_t> page1;           // SaveData, 202 or 138 bytes (rest of the page 0xFF)
    std::vector<uint8_t> identification;  // 128 bytes
    uint32_t busyStatus = 0;              // what CMD_GET_STATUS answers
    uint32_t framesPerSecond = 30;        // stream frame rate
    bool frameInfo = false;               // put a frame information record in each frame
    uint32_t seed = 1;                    // image content is a function of seed and frame number
    // 0: every frame's image is its own. N: frame n shows the image of frame
    // n % N (headers still say n), rendered once: a camera that sends large
    // frames as fast as a reader can take them, for benchmarks.
    uint32_t repeatImages = 0;
    uint32_t flashBusyPolls = 0;  // status polls after CMD_FLASH_BEGIN that answer busy
};

// The camera model number (CameraModel) a profile's record holds.
uint32_t ProfileModel(const Profile& profile);

// Ready-made profiles. name is the bare camera name stored in the record.
enum class Model {
    ShortLayout,     // CameraModel 1: 138-byte SaveData, reduced register set
    LongLayout,      // CameraModel 2: 202-byte SaveData
    Busy,            // CameraModel 3: answers the busy-status query
    TwoByteMarkers,  // CameraModel 5: 16-bit frames carry 0xFF / 0xFE markers
};
Profile MakeProfile(Model model, const std::string& name, const std::string& socketName);

// A profile whose first format has the given format code, raw bits and output
// bits; partial formats get a maximum extent and units. Used for streaming.
Profile MakeFormatProfile(Model model, const std::string& name, const std::string& socketName,
                          uint32_t formatCode, uint32_t rawBits, uint32_t outBits, bool partial);

// Makes every format of a profile width x height (a fixed format's unit and a
// partial format's maximum extent follow), every preset's scan area the whole
// image and the shutter's maximum the height: a camera of another sensor size.
// False, with the profile unchanged, for a size outside 32..32768 x 16..4095.
bool SetImageSize(Profile* profile, uint32_t width, uint32_t height);

// ---- Stream content ---------------------------------------------------------------------
//
// A transfer is framesPerTransfer raw frames back to back. Each raw frame is
// linesPlus4 lines of width x bytesPerPixel bytes:
//   line 0          byte 0 the start marker, bytes 4..7 the frame number (LE)
//   line 1          byte 21 the colour channel of sequential colour, frame % 3;
//                   with frame information, at position 2: 0x77 0x77, count 2
//                   (LE16), then the frame number and the seed (LE32 each),
//                   12 bytes in all
//   lines 2..L+1    the image: ImageSample(seed, frame, x, y, bytesPerPixel),
//                   one byte, or two bytes little-endian holding 12 bits
//                   (a hash of the line's key and x: cheap enough that the
//                   simulator keeps up with hundreds of VGA frames a second)
//   lines L+2, L+3  zeros, except the frame's last byte: the end marker
// Frames are numbered from 0 at each stream start.

struct FrameSpec {
    uint32_t seed = 1;
    uint32_t frameNumber = 0;
    uint32_t width = 0;          // pixels per line
    uint32_t linesPlus4 = 0;     // image lines + 4
    uint32_t bytesPerPixel = 1;  // 1 or 2
    uint32_t cameraModel = 2;    // 5 or more with 2 bytes per pixel: 0xFF / 0xFE markers
    bool frameInfo = false;
};

// Markers of a stream: 0x01 / 0x02, or 0xFF / 0xFE for models 5 and above
// sending two bytes per pixel.
uint8_t StartMarker(uint32_t cameraModel, uint32_t bytesPerPixel);
uint8_t EndMarker(uint32_t cameraModel, uint32_t bytesPerPixel);

// One image sample: 0..255 for one byte per pixel, 0..4095 for two.
uint16_t ImageSample(uint32_t seed, uint32_t frameNumber, uint32_t x, uint32_t y,
                     uint32_t bytesPerPixel);

// Writes one whole raw frame (linesPlus4 x width x bytesPerPixel bytes) to out.
void FillFrame(const FrameSpec& spec, uint8_t* out);
std::vector<uint8_t> MakeFrame(const FrameSpec& spec);

// ---- The server ---------------------------------------------------------------------

struct Server;

// Starts serving in deviceDir (created if missing). stateFile, when not empty,
// keeps every camera's flash pages across restarts (replaced atomically, so a
// killed server never leaves a torn page). Null on failure.
Server* Start(const std::string& deviceDir, const std::string& stateFile = "");
// Unplugs every camera, closes every connection and frees the server.
void Stop(Server* server);
// Serves the cameras plugged from now on over loopback TCP instead of a Unix
// socket, for the Windows build under test: a camera's device file is then
// NAME.tcp (for socket name NAME.sock) holding "127.0.0.1:PORT", written
// once the camera listens and removed when it leaves.
void UseLoopbackTcp(Server* server);

// Plugs a camera in (its socket file appears); returns its camera number, or
// -1 on failure. Unplug removes the socket file and breaks every connection
// to that camera; PlugBack makes it appear again with its flash as it was.
int Plug(Server* server, const Profile& profile);
void Unplug(Server* server, int camera);
void PlugBack(Server* server, int camera);

// Full path of a camera's device file (its socket, or its .tcp file).
std::string SocketPath(Server* server, int camera);

// ---- The request log ---------------------------------------------------------------

struct Request {
    uint64_t timeMs;             // on the server's clock (see SetClock)
    uint32_t code;               // control code
    std::vector<uint8_t> input;  // the input bytes exactly as received
    uint32_t outCapacity;        // output capacity asked for
    bool ok;                     // result sent back
    uint32_t bytesReturned;
};

std::vector<Request> Log(Server* server, int camera);
void ClearLog(Server* server, int camera);

// The clock that stamps the log: milliseconds. Defaults to a steady real clock;
// tests on a virtual clock pass the library's plat::Now.
void SetClock(Server* server, uint64_t (*nowMs)());

// ---- The camera's state, for checks ---------------------------------------------------

std::vector<uint8_t> Flash(Server* server, int camera, int page);
void SetFlash(Server* server, int camera, int page, const std::vector<uint8_t>& bytes);
// Last value written to a register with CMD_WRITE_REG; false if never written.
bool Register(Server* server, int camera, uint16_t address, uint16_t* value);
void SetBusyStatus(Server* server, int camera, uint32_t status);

// Flash pages are kFlashPageBytes long. Flash returns the whole page; SetFlash
// puts bytes at the start of the page and erases the rest (0xFF), as a
// completed write sequence does.
constexpr size_t kFlashPageBytes = 16896;

// What CMD_READ_REG answers: word 0 is the register's value, word 1 the third
// word of the CMD_WRITE_REG that set it (0 for a register set here or never
// written; a register never written reads 0, 0).
void SetRegister(Server* server, int camera, uint16_t address, uint16_t value);
// Last value sent with CMD_SET_ONOFF / CMD_SET_AUTO for a feature.
bool OnOffFeature(Server* server, int camera, uint16_t feature, uint16_t* value);
bool AutoFeature(Server* server, int camera, uint16_t feature, uint16_t* value);
// An I2C register's two data bytes (high byte first); false if never written.
// Every I2C address answers, 122 (the camera controller) included.
bool I2CRegister(Server* server, int camera, uint8_t address, uint8_t reg, uint16_t* value);
// The bytes of the last upload of a table (empty if none).
std::vector<uint8_t> Table(Server* server, int camera, uint8_t number);
// Number of CMD_FIFO_RESET commands with each flag value received so far.
uint32_t FifoResets(Server* server, int camera, uint8_t flag);
// Whether a stream runs, and the frames delivered since its start.
bool Streaming(Server* server, int camera, uint64_t* framesDelivered);
// Changes the frame rate of a camera (0: transfers are ready at once).
void SetFramesPerSecond(Server* server, int camera, uint32_t framesPerSecond);

// Holds the camera's transfers back, for tests that look at each transfer's
// effect: while gated, a stream read is answered only while the allowance
// lasts (each transfer uses one) and otherwise waits; a stop, a restart or an
// unplug still ends the wait. Ungating lets every waiting read through.
void GateTransfers(Server* server, int camera, bool gated);
void AllowTransfers(Server* server, int camera, uint32_t count);
// Waits until a stream read waits at the gate with nothing allowed, which
// tells that the reader has finished with every transfer before it. False
// when that didn't happen within timeoutMs.
bool WaitForReadAtGate(Server* server, int camera, uint32_t timeoutMs);

// ---- Fault injection ------------------------------------------------------------------

enum class Fault {
    FailRequest,        // the next N requests of this control code answer result 0
    FlashWriteError,    // the next N flash status polls report bit 0x20
    WrongSizeTransfer,  // the next N stream reads return a short transfer
    BadMarkers,         // the next N stream reads carry wrong start/end markers
    FailStreamRead,     // the next N stream reads fail
    DropConnection,     // the next N requests of this code close the connection unanswered
    TwoByteTransfer,    // the next N stream reads return exactly 2 bytes
    BadEndMarker,       // the next N stream reads carry a wrong end marker only
    ShortReply,         // the next N reply fetches return 2 of their 64 bytes
    // The next N requests of this code get no answer: the camera stops
    // answering. The connection stays open and silent until the client hangs
    // up or the camera is unplugged (or the server stops).
    NoAnswer,
    // The next request of this code unplugs the camera while it is served: it
    // gets no answer, every connection to the camera breaks and its socket
    // file goes, as when the cable is pulled mid-call. PlugBack brings it back.
    Unplug,
};
// code: the control code the fault applies to (0 = any). count: how many.
// after: that many matching requests pass untouched first (a fault in the
// middle of a call: the fourth write, the reader's first request after the
// start's last).
void InjectFault(Server* server, int camera, Fault fault, uint32_t code, uint32_t count,
                 uint32_t after = 0);
void ClearFaults(Server* server, int camera);

// ---- Answers from outside ---------------------------------------------------------------
//
// For fuzzing what a camera sends. After the firmware has answered a request
// (faults included), the hook sees the control code, the request's input
// bytes and the answer, and may change the answer: its result and its bytes
// (a reply fetch's 64, a stream read's transfer; any length, cut to the
// request's output capacity when sent). A request that gets no answer (a
// dropped connection, NoAnswer, Unplug) doesn't reach the hook. The hook runs
// on the server's connection threads, for one request of a connection at a
// time but for several connections at once. Null removes it.
struct Answer {
    bool ok;
    std::vector<uint8_t> data;
};
typedef void (*AnswerHook)(uint32_t code, const std::vector<uint8_t>& input, Answer* answer,
                           void* context);
void SetAnswerHook(Server* server, int camera, AnswerHook hook, void* context);

}  // namespace sim
