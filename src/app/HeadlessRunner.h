// The agent without its window (quorvin --headless): the links start from
// config.json's "param" values as the shipped page starts them, every page
// notification becomes a line on stderr, and the run ends on ExitQuorvin
// or on SIGTERM/SIGINT.
#pragma once

#include <optional>
#include <string>

#include "app/OrderlyEnd.h"

namespace quorvin {

class CPrintTaskRunner;
class SignalWatch;

// What the page would start the links with.
struct LinkParams {
    std::string server;  // TCP link: started when server and port are set
    int port = 0;
    std::string wsUrl;  // WebSocket link: started when set
    std::string from;   // "clientId"
    std::string clientName, gsdm, rydm;
};

// Reads the links' values from the "param" object's JSON text. Nothing,
// with the reason in why, when there is no "param" object, the port is not
// a number from 1 to 65535, the WebSocket address cannot be read, or
// neither link is set up.
std::optional<LinkParams> ReadLinkParams(const std::string& paramJson, std::string& why);

// How the run ended.
enum class HeadlessEnd {
    Finished,   // ExitQuorvin, or a signal after the print tasks were done
    TasksLeft,  // a signal, and print tasks still ran when their time was up
};

// Starts the links from params and runs until ExitQuorvin or a signal.
// After a signal it lets the running print tasks finish (FinishPrintTasks:
// at most taskGraceMs, the links still up so their replies are sent).
// Then it closes both links.
HeadlessEnd RunHeadless(const LinkParams& params, SignalWatch& signals, CPrintTaskRunner& tasks,
                        int taskGraceMs = kPrintTaskGraceMs);

}  // namespace quorvin
