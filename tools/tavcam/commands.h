// The tavcam program's commands. Each lives in a file of its own and is listed
// in the table in main.cpp.
#pragma once

struct Command {
    const char* name;
    const char* usage;                  // arguments, for the help text
    const char* help;                   // one line
    int (*run)(int argc, char** argv);  // argv[0] is the command's name
};

int CmdStatus(int argc, char** argv);
int CmdList(int argc, char** argv);
int CmdInfo(int argc, char** argv);
int CmdInit(int argc, char** argv);
int CmdGet(int argc, char** argv);
int CmdSet(int argc, char** argv);
int CmdFormat(int argc, char** argv);
int CmdArea(int argc, char** argv);
int CmdPreset(int argc, char** argv);
int CmdCapture(int argc, char** argv);
int CmdLive(int argc, char** argv);
int CmdWatch(int argc, char** argv);
#if defined(TAVCAM_HAVE_VIEW)
int CmdView(int argc, char** argv);  // built with an HTTP server and a JPEG encoder
#endif
