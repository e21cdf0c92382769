#include "win/Clipboard.h"

#include "win/UniqueHandle.h"

#include <cstring>
#include <new>
#include <stdexcept>

namespace {

// Open for the lifetime of the object.
class OpenClipboardSession {
public:
    explicit OpenClipboardSession(HWND owner)
    {
        if (!OpenClipboard(owner))
            throw std::runtime_error("Cannot open clipboard");
    }
    ~OpenClipboardSession() { CloseClipboard(); }
    OpenClipboardSession(const OpenClipboardSession&) = delete;
    OpenClipboardSession& operator=(const OpenClipboardSession&) = delete;
};

} // namespace

void CopyTextToClipboard(HWND owner, const std::string& text)
{
    // Prepared before the clipboard is touched, so a failure leaves its contents alone.
    UniqueHGlobal memory(GlobalAlloc(GMEM_MOVEABLE, text.size() + 1));
    if (!memory)
        throw std::bad_alloc();
    std::memcpy(GlobalLock(memory.get()), text.c_str(), text.size() + 1);
    GlobalUnlock(memory.get());

    OpenClipboardSession session(owner);
    EmptyClipboard();
    if (SetClipboardData(CF_TEXT, memory.get()))
        memory.release(); // the clipboard owns it now
}
