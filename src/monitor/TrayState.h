#pragma once
// The tray icon's state, kept apart from the widget that shows it: the two
// animation frames (image indexes of the shared icon list), whether the icon
// is animated, and the NG-indication flag.
//
//   run start           frames 3/4, flag clear, animated = BlinkTrayIcon
//   NG alert (icon on)  if the flag is clear: flag set, frames 5/6, animated
//   double-click        if flag set and animated: frames 3/4, flag clear,
//                       animated = BlinkTrayIcon
//   NG popup's OK       if flag set and animated: frames 3/4, flag clear
//   run end             not animated (the still image shows)

namespace tarvok {

class TrayState {
public:
    static constexpr int StillImage = 3;
    static constexpr int NormalFrame1 = 3;
    static constexpr int NormalFrame2 = 4;
    static constexpr int NGFrame1 = 5;
    static constexpr int NGFrame2 = 6;
    static constexpr int FrameIntervalMs = 500;

    int frame1() const { return frame1_; }
    int frame2() const { return frame2_; }
    bool animated() const { return animated_; }
    bool ngIndicated() const { return ngIndicated_; }

    // Image shown in the given animation phase (0 or 1).
    int imageIndex(int phase) const
    {
        if (!animated_)
            return StillImage;
        return phase == 0 ? frame1_ : frame2_;
    }

    void runStarting(bool blink)
    {
        setNormalFrames();
        ngIndicated_ = false;
        animated_ = blink;
    }
    void runEnded() { animated_ = false; }

    // Returns whether anything changed.
    bool ngAlert()
    {
        if (ngIndicated_)
            return false;
        ngIndicated_ = true;
        frame1_ = NGFrame1;
        frame2_ = NGFrame2;
        animated_ = true;
        return true;
    }
    void doubleClicked(bool blink)
    {
        if (!(ngIndicated_ && animated_))
            return;
        setNormalFrames();
        ngIndicated_ = false;
        animated_ = blink;
    }
    void popupAcknowledged()
    {
        if (!(ngIndicated_ && animated_))
            return;
        setNormalFrames();
        ngIndicated_ = false;
    }

private:
    void setNormalFrames()
    {
        frame1_ = NormalFrame1;
        frame2_ = NormalFrame2;
    }

    int frame1_ = NormalFrame1;
    int frame2_ = NormalFrame2;
    bool animated_ = false;
    bool ngIndicated_ = false;
};

} // namespace tarvok
