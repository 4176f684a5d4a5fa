#include "x11_window.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <memory>

namespace {

struct Display_closer
{
    void operator()(Display* display) const { XCloseDisplay(display); }
};

using Display_ptr = std::unique_ptr<Display, Display_closer>;

QString window_title(Display* display, Window window)
{
    XTextProperty property{};
    if (!XGetWMName(display, window, &property) || !property.value)
        return QString();
    QString title = QString::fromUtf8(reinterpret_cast<const char*>(property.value), static_cast<int>(property.nitems));
    XFree(property.value);
    return title;
}

Window find_shown(Display* display, const QString& title)
{
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count))
        return 0;
    Window found = 0;
    for (unsigned i = 0; i < count && !found; ++i) {
        XWindowAttributes attributes{};
        if (XGetWindowAttributes(display, children[i], &attributes) && attributes.map_state == IsViewable
            && window_title(display, children[i]) == title)
            found = children[i];
    }
    if (children)
        XFree(children);
    return found;
}

} // namespace

bool window_shown(const QString& title)
{
    Display_ptr display(XOpenDisplay(nullptr));
    return display && find_shown(display.get(), title) != 0;
}

bool request_window_close(const QString& title)
{
    Display_ptr display(XOpenDisplay(nullptr));
    if (!display)
        return false;
    const Window window = find_shown(display.get(), title);
    if (!window)
        return false;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display.get(), "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display.get(), "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display.get(), window, False, NoEventMask, &event);
    XFlush(display.get());
    return true;
}
