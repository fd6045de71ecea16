/*
 * Drops files onto an X11 window the way a Linux file manager does, through
 * the XDND protocol: enter, position, drop, answering the target's requests
 * for the "text/uri-list" data until it says it has finished.
 *
 *   xdnd_drop WINDOW_ID PATH...
 *
 * WINDOW_ID is the X window (decimal or 0x hex, as xdotool prints it); each
 * PATH is an absolute Linux path. The drop lands 100 pixels right of and 120
 * below the window's top-left corner. Exit status 0 when the target accepted
 * and finished the drop, 1 otherwise, 2 on bad usage.
 */
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/select.h>
#include <sys/time.h>

#define XDND_VERSION 5

static Display *display;
static Window source, target;
static Atom xdndAware, xdndSelection, xdndEnter, xdndPosition, xdndStatus, xdndDrop, xdndFinished,
    xdndLeave, xdndActionCopy, uriList;
static char *uris;

/* Appends "file://PATH\r\n" to the uri list, percent-encoding what a URI must not hold raw. */
static void AppendUri(const char *path)
{
    static const char safe[] = "-_.~/";
    size_t used = uris ? strlen(uris) : 0;
    uris = realloc(uris, used + strlen(path) * 3 + 16);
    char *out = uris + used;
    out += sprintf(out, "file://");
    for (const unsigned char *c = (const unsigned char *)path; *c; ++c) {
        if ((*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') || (*c >= '0' && *c <= '9') || strchr(safe, *c))
            *out++ = (char)*c;
        else
            out += sprintf(out, "%%%02X", *c);
    }
    strcpy(out, "\r\n");
}

static void SendClientMessage(Atom type, long l1, long l2, long l3, long l4)
{
    XEvent event;
    memset(&event, 0, sizeof(event));
    event.xclient.type = ClientMessage;
    event.xclient.display = display;
    event.xclient.window = target;
    event.xclient.message_type = type;
    event.xclient.format = 32;
    event.xclient.data.l[0] = (long)source;
    event.xclient.data.l[1] = l1;
    event.xclient.data.l[2] = l2;
    event.xclient.data.l[3] = l3;
    event.xclient.data.l[4] = l4;
    XSendEvent(display, target, False, NoEventMask, &event);
    XFlush(display);
}

/* Hands the uri list to a target that asked for it; refuses other types. */
static void AnswerSelectionRequest(const XSelectionRequestEvent *request)
{
    XEvent reply;
    memset(&reply, 0, sizeof(reply));
    reply.xselection.type = SelectionNotify;
    reply.xselection.display = request->display;
    reply.xselection.requestor = request->requestor;
    reply.xselection.selection = request->selection;
    reply.xselection.target = request->target;
    reply.xselection.time = request->time;
    reply.xselection.property = None;
    if (request->target == uriList && request->property != None) {
        XChangeProperty(display, request->requestor, request->property, uriList, 8, PropModeReplace,
                        (const unsigned char *)uris, (int)strlen(uris));
        reply.xselection.property = request->property;
    }
    XSendEvent(display, request->requestor, False, NoEventMask, &reply);
    XFlush(display);
}

/* Handles events until a client message of `type` arrives or `seconds` pass;
 * returns that message's data.l[1], or -1 on time-out. */
static long WaitFor(Atom type, int seconds)
{
    struct timeval deadline, now;
    gettimeofday(&deadline, NULL);
    deadline.tv_sec += seconds;
    for (;;) {
        while (XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == SelectionRequest)
                AnswerSelectionRequest(&event.xselectionrequest);
            else if (event.type == ClientMessage && event.xclient.message_type == type)
                return event.xclient.data.l[1];
        }
        gettimeofday(&now, NULL);
        if (timercmp(&now, &deadline, >))
            return -1;
        int fd = ConnectionNumber(display);
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(fd, &readable);
        struct timeval slice = {0, 50000};
        select(fd + 1, &readable, NULL, NULL, &slice);
    }
}

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: %s WINDOW_ID PATH...\n", argv[0]);
        return 2;
    }
    display = XOpenDisplay(NULL);
    if (!display) {
        fprintf(stderr, "xdnd_drop: cannot open the display\n");
        return 1;
    }
    target = (Window)strtoul(argv[1], NULL, 0);
    for (int i = 2; i < argc; ++i)
        AppendUri(argv[i]);

    xdndAware = XInternAtom(display, "XdndAware", False);
    xdndSelection = XInternAtom(display, "XdndSelection", False);
    xdndEnter = XInternAtom(display, "XdndEnter", False);
    xdndPosition = XInternAtom(display, "XdndPosition", False);
    xdndStatus = XInternAtom(display, "XdndStatus", False);
    xdndDrop = XInternAtom(display, "XdndDrop", False);
    xdndFinished = XInternAtom(display, "XdndFinished", False);
    xdndLeave = XInternAtom(display, "XdndLeave", False);
    xdndActionCopy = XInternAtom(display, "XdndActionCopy", False);
    uriList = XInternAtom(display, "text/uri-list", False);

    Atom type;
    int format;
    unsigned long count, left;
    unsigned char *aware = NULL;
    if (XGetWindowProperty(display, target, xdndAware, 0, 1, False, AnyPropertyType, &type, &format, &count, &left,
                           &aware) != Success || !aware) {
        fprintf(stderr, "xdnd_drop: window 0x%lx does not take drops\n", (unsigned long)target);
        return 1;
    }
    XFree(aware);

    source = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
    XSetSelectionOwner(display, xdndSelection, source, CurrentTime);

    int rootX, rootY;
    Window child;
    XTranslateCoordinates(display, target, DefaultRootWindow(display), 100, 120, &rootX, &rootY, &child);

    SendClientMessage(xdndEnter, (long)XDND_VERSION << 24, (long)uriList, None, None);
    SendClientMessage(xdndPosition, 0, ((long)rootX << 16) | rootY, CurrentTime, (long)xdndActionCopy);
    long status = WaitFor(xdndStatus, 10);
    if (status < 0 || !(status & 1)) {
        SendClientMessage(xdndLeave, 0, 0, 0, 0);
        fprintf(stderr, "xdnd_drop: the window %s the drop\n", status < 0 ? "did not answer" : "refused");
        return 1;
    }
    SendClientMessage(xdndDrop, 0, CurrentTime, 0, 0);
    long finished = WaitFor(xdndFinished, 10);
    XCloseDisplay(display);
    free(uris);
    if (finished < 0) {
        fprintf(stderr, "xdnd_drop: the window never finished the drop\n");
        return 1;
    }
    return 0;
}
