// Life cycle, hidden window, state changes, Abort and the synchronous wait
// of THttpCli.
#include "http/HttpProt.h"

namespace qm {

THttpCli::THttpCli() = default;
THttpCli::~THttpCli() = default;

void THttpCli::SetMultiThreaded(bool Value)
{
    multiThreaded_ = Value;
    socket_.MultiThreaded = Value;
}

void THttpCli::StartRequest(THttpRequest) { throw EHttpException("not implemented yet", 404); }
void THttpCli::ExecuteRequest(THttpRequest RqType) { StartRequest(RqType); }
void THttpCli::Abort() {}
void THttpCli::SendLine(const std::string&) {}
void THttpCli::StartConnection() {}
void THttpCli::Disconnect() { socket_.Close(); }
void THttpCli::DoHeaderBegin() {}
void THttpCli::DoHeaderEnd() {}
void THttpCli::DoDocBegin() {}
void THttpCli::DoDocData(const void*, std::int32_t) {}
void THttpCli::DoDocEnd() {}
void THttpCli::DoSendBegin() {}
void THttpCli::DoSendData(const void*, std::int32_t) {}
void THttpCli::DoSendEnd() {}

LRESULT THttpCli::WindowProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam)
{
    return DefWindowProcA(Wnd, Msg, WParam, LParam);
}

} // namespace qm
