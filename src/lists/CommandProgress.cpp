#include "lists/CommandProgress.h"

namespace {

// Each update costs the UI thread a few milliseconds under Wine (the bar and the progress bar
// redraw at once): four a second tell the user enough.
constexpr UINT kShowEveryMs = 250;

} // namespace

NumberStyle UsersNumberStyle()
{
    NumberStyle style;
    char text[8] = {};
    if (GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_STHOUSAND, text, sizeof text) > 0)
        style.thousands = text;
    if (GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, text, sizeof text) > 0)
        style.decimal = text;
    return style;
}

void CommandProgress::Attach(HWND window, StatusBar& bar, std::function<bool()> working, std::function<void()> ended)
{
    window_ = window;
    bar_ = &bar;
    working_ = std::move(working);
    ended_ = std::move(ended);
}

void CommandProgress::Began(std::size_t lines, bool droppedEarlier)
{
    tally_ = CommandTally{};
    tally_.lines = lines;
    droppedEarlier_ = droppedEarlier;
    began_ = GetTickCount64();
    style_ = UsersNumberStyle();
    shown_ = (droppedEarlier_ ? kEarlierCommandDropped : "") + ProbingText(tally_, style_);
    if (bar_) {
        bar_->SetText(shown_);
        bar_->ShowProgress(0, lines);
    }
    timer_.Start(kShowEveryMs, [this] { Show(); });
}

void CommandProgress::ListNotFetched(const std::string& reason)
{
    timer_.Stop();
    if (!bar_)
        return;
    bar_->SetText(ListNotFetchedText(reason));
    bar_->HideProgress();
    taskbar_.Clear(window_);
}

void CommandProgress::Probed(bool answered)
{
    // A late completion of a command dropped before counts as listed, not as probed.
    if (tally_.probed < tally_.lines)
        ++tally_.probed;
    tally_.answered += answered;
}

void CommandProgress::Verdict(const ProxyVerdict& verdict)
{
    tally_.Count(verdict.webMs.has_value(), verdict.anonymity, verdict.https, verdict.kind);
}

void CommandProgress::Show()
{
    if (!bar_)
        return;
    if (!working_()) {
        Ended();
        return;
    }
    const bool probing = tally_.probed < tally_.lines;
    const std::string text = (droppedEarlier_ ? kEarlierCommandDropped : "") +
                             (probing ? ProbingText(tally_, style_) : CheckingText(tally_, style_));
    if (text == shown_)
        return; // nothing new
    shown_ = text;
    bar_->SetText(text);
    const std::size_t done = probing ? tally_.probed : tally_.checked;
    const std::size_t total = probing ? tally_.lines : tally_.checks;
    bar_->ShowProgress(done, total);
    taskbar_.Show(window_, done, total);
}

void CommandProgress::Ended()
{
    timer_.Stop();
    bar_->SetText(SummaryText(tally_, static_cast<double>(GetTickCount64() - began_) / 1000.0, style_));
    bar_->HideProgress();
    taskbar_.Clear(window_);
    if (ended_)
        ended_();
}
