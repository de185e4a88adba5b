// indi_velq3: the INDI driver that indiserver starts. This main() stands in for libindi's own:
// it reads the clients' XML from standard input as libindi does, but checks each message first
// (RequestCheck) and only then hands it to libindi, which routes it to the devices of the one
// driver object below.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <eventloop.h>
#include <lilxml.h>

#include "indi/DriverProcess.h"
#include "indi/RequestCheck.h"

extern "C" int dispatch(XMLEle* root, char msg[]);
extern "C" int verbose;  // libindi's trace level of the XML it reads
extern "C" char* me;     // the program's name, which libindi shows as DRIVER_EXEC

namespace {

velq3::indi::DriverProcess g_Process;

void OnClientInput(int fd, void* arg) {
    auto* parser = static_cast<LilXML*>(arg);
    char buf[1024];
    char msg[1024];
    const ssize_t nr = ::read(fd, buf, sizeof buf);
    if (nr < 0) {
        std::fprintf(stderr, "indi_velq3: %s\n", std::strerror(errno));
        std::exit(1);
    }
    if (nr == 0) {
        std::fprintf(stderr, "indi_velq3: EOF\n");
        std::exit(0);
    }
    for (ssize_t i = 0; i < nr; ++i) {
        XMLEle* root = readXMLEle(parser, buf[i], msg);
        if (!root) {
            if (msg[0]) std::fprintf(stderr, "indi_velq3: XML error: %s\n", msg);
            continue;
        }
        if (const auto bad = velq3::indi::CheckRequest(root)) {
            if (auto* device = g_Process.driver.Find(bad->device.c_str())) device->RefuseMalformed(bad->property.c_str(), bad->why);
        } else if (dispatch(root, msg) < 0) {
            std::fprintf(stderr, "indi_velq3: dispatch error: %s\n", msg);
        }
        delXMLEle(root);
    }
}

}  // namespace

int main(int argc, char* argv[]) {
    me = argv[0];
    for (char* c = argv[0]; *c; ++c)
        if (*c == '/') me = c + 1;
    // -v, -vv...: more of libindi's messages on standard error, as with libindi's own main().
    for (int i = 1; i < argc; ++i) {
        if (argv[i][0] != '-') continue;
        for (const char* c = argv[i] + 1; *c == 'v'; ++c) ++verbose;
    }
    LilXML* parser = newLilXML();
    addCallback(0, OnClientInput, parser);
    eventLoop();
    return 0;
}
