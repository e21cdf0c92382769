#pragma once
// The platform's status bar along the bottom of a window: a line of text and, beside it while
// work goes on, a progress bar (the platform's progress control). UI thread only.

#include "win/Controls.h"

#include <cstddef>
#include <string>

class StatusBar : public Control {
public:
    // Creates the bar at the bottom of `parent`'s client area, with `font`; its height is the
    // platform's.
    void Create(HWND parent, HFONT font);
    int Height() const;
    // Takes its place at the bottom of the parent again, with the progress bar's part
    // `progressWidth` pixels wide at its right end.
    void Layout(int progressWidth);

    // The text, also as the tip shown where the bar cuts it short.
    void SetText(const std::string& text) override;
    // A line that stands before the text, whatever text comes, until it is set to "".
    void SetNotice(const std::string& notice);
    // What the bar shows: the notice, then the text.
    std::string Text() const;

    // The progress bar shows `done` of `total` at the bar's right end; HideProgress takes it away
    // and gives the text the whole bar.
    void ShowProgress(std::size_t done, std::size_t total);
    void HideProgress();
    HWND Progress() const { return progress_; }

private:
    void SetParts(bool withProgress);
    void Show();

    HWND progress_ = nullptr;
    int progressWidth_ = 0;
    std::string text_;
    std::string notice_;
};
