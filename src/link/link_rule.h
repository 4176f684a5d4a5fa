#pragma once

// What "link up" means wherever a program reports it.

#include <QElapsedTimer>

// The link is up while a status frame that passed its check came within the last 2 s.
// A frame that fails its check neither brings it up nor keeps it up; it is counted apart.
class Link_rule
{
public:
    static constexpr int good_frame_within_ms = 2000;

    // A good frame came; true when it brings the link up.
    bool good_frame()
    {
        since_good.start();
        const bool was_up = up;
        up = true;
        return !was_up;
    }

    // How long the link stays up without another good frame; 0 or less once it is past.
    qint64 ms_left() const { return since_good.isValid() ? good_frame_within_ms - since_good.elapsed() : 0; }

    // True when the link was up and just went down.
    bool went_down()
    {
        if (!up || ms_left() > 0)
            return false;
        up = false;
        return true;
    }

    bool is_up() const { return up; }

private:
    QElapsedTimer since_good;
    bool up = false;
};
