#include "win_clients.h"

#include <string.h>

#include "support/testing.h"

namespace windows_tests {

bool StartClient(Client* client) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE childIn = nullptr, toChild = nullptr, fromChild = nullptr, childOut = nullptr;
    if (!CreatePipe(&childIn, &toChild, &inherit, 0)) return false;
    if (!CreatePipe(&fromChild, &childOut, &inherit, 0)) return false;
    SetHandleInformation(toChild, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(fromChild, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA si;
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = childIn;
    si.hStdOutput = childOut;
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION pi;
    std::string command = "\"" + testing_support::BinDir() + "\\tavcam-test-client.exe\"";
    BOOL ok =
        CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    CloseHandle(childIn);
    CloseHandle(childOut);
    if (!ok) {
        CloseHandle(toChild);
        CloseHandle(fromChild);
        return false;
    }
    CloseHandle(pi.hThread);
    client->process = pi.hProcess;
    client->pid = pi.dwProcessId;
    client->in = toChild;
    client->out = fromChild;
    return true;
}

std::string Ask(Client& client, const std::string& command, DWORD ms) {
    if (!client.process) return "";
    std::string line = command + "\n";
    DWORD written = 0;
    if (!WriteFile(client.in, line.data(), (DWORD)line.size(), &written, nullptr)) return "";
    std::string answer;
    for (DWORD start = GetTickCount(); GetTickCount() - start <= ms;) {
        DWORD available = 0;
        if (!PeekNamedPipe(client.out, nullptr, 0, nullptr, &available, nullptr)) return "";
        if (available == 0) {
            Sleep(5);
            continue;
        }
        char c;
        DWORD got = 0;
        if (!ReadFile(client.out, &c, 1, &got, nullptr) || got != 1) return "";
        if (c == '\n') return answer;
        if (c != '\r') answer += c;
    }
    return "";
}

static void CloseAll(Client& client) {
    for (HANDLE* h : {&client.process, &client.in, &client.out}) {
        if (*h) CloseHandle(*h);
        *h = nullptr;
    }
}

bool Exit(Client& client) {
    if (!client.process) return true;
    DWORD written = 0;
    WriteFile(client.in, "exit\n", 5, &written, nullptr);
    DWORD code = 1;
    bool ended = WaitForSingleObject(client.process, 10000) == WAIT_OBJECT_0 &&
                 GetExitCodeProcess(client.process, &code) && code == 0;
    if (!ended) TerminateProcess(client.process, 1);
    CloseAll(client);
    return ended;
}

void Kill(Client& client) {
    if (!client.process) return;
    TerminateProcess(client.process, 9);
    WaitForSingleObject(client.process, 5000);
    CloseAll(client);
}

bool ReadBlock(tav::SharedData* out) {
    HANDLE map = OpenFileMappingA(FILE_MAP_READ, FALSE, tav::kSharedDataName);
    if (!map) return false;
    const void* view = MapViewOfFile(map, FILE_MAP_READ, 0, 0, sizeof *out);
    if (view) {
        memcpy(out, view, sizeof *out);
        UnmapViewOfFile(view);
    }
    CloseHandle(map);
    return view != nullptr;
}

bool ProcessRuns(DWORD pid) {
    HANDLE p = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid);
    if (!p) return false;
    DWORD code = 0;
    bool runs = GetExitCodeProcess(p, &code) && code == STILL_ACTIVE;
    CloseHandle(p);
    return runs;
}

}  // namespace windows_tests
