/* Plays a file manager for the window tests: drags files onto the X window at a point of the
 * screen and drops them there, speaking the X drag-and-drop protocol (XDND) as file managers do,
 * which Wine turns into WM_DROPFILES for a window that accepts files.
 *
 *   xdnd_drop X Y FILE...
 *
 * Prints "dropped" and exits 0 once the target has taken the drop and said it is finished;
 * prints "refused" and exits 3 when the target says it does not take files there; exits 1 when
 * there is no X window that understands XDND at X, Y or it does not answer within 20 s. */
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

static Display* display;
static Window source;
static Atom aAware, aEnter, aPosition, aStatus, aDrop, aLeave, aFinished, aSelection, aCopy, aUriList;

static void Send(Window target, Atom type, long l1, long l2, long l3, long l4) {
    XEvent event;
    memset(&event, 0, sizeof event);
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

/* The XDND version the window at the point understands (0: none), and that window. The point's
 * top-level window or one of its ancestors below the root carries the XdndAware property. */
static int AwareWindowAt(int x, int y, Window* found) {
    Window root = DefaultRootWindow(display), child = None, parent = root;
    int childX, childY;
    while (XTranslateCoordinates(display, root, parent, x, y, &childX, &childY, &child) && child != None) {
        Atom type;
        int format;
        unsigned long count, after;
        unsigned char* data = NULL;
        if (XGetWindowProperty(display, child, aAware, 0, 1, False, AnyPropertyType, &type, &format,
                               &count, &after, &data) == Success && data && count == 1) {
            int version = (int)*(long*)data;
            XFree(data);
            *found = child;
            return version;
        }
        if (data) XFree(data);
        parent = child;
    }
    return 0;
}

/* file:// URIs, one per line, each byte outside the unreserved set written as %XX. */
static char* UriList(int count, char** paths) {
    size_t size = 1;
    size += (size_t)count * (7 + 3 * 4096 + 2); /* file://, each byte as %XX at worst, CR LF */
    char* list = malloc(size);
    char* at = list;
    for (int i = 0; i < count; ++i) {
        char absolute[4096];
        if (!realpath(paths[i], absolute)) snprintf(absolute, sizeof absolute, "%s", paths[i]);
        at += sprintf(at, "file://");
        for (const unsigned char* c = (const unsigned char*)absolute; *c; ++c) {
            if ((*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') || (*c >= '0' && *c <= '9') ||
                strchr("/-._~", *c))
                *at++ = (char)*c;
            else
                at += sprintf(at, "%%%02X", *c);
        }
        at += sprintf(at, "\r\n");
    }
    *at = '\0';
    return list;
}

int main(int argc, char** argv) {
    if (argc < 4) {
        fprintf(stderr, "usage: xdnd_drop X Y FILE...\n");
        return 2;
    }
    int x = atoi(argv[1]), y = atoi(argv[2]);
    display = XOpenDisplay(NULL);
    if (!display) {
        fprintf(stderr, "xdnd_drop: cannot open the display\n");
        return 1;
    }
    aAware = XInternAtom(display, "XdndAware", False);
    aEnter = XInternAtom(display, "XdndEnter", False);
    aPosition = XInternAtom(display, "XdndPosition", False);
    aStatus = XInternAtom(display, "XdndStatus", False);
    aDrop = XInternAtom(display, "XdndDrop", False);
    aLeave = XInternAtom(display, "XdndLeave", False);
    aFinished = XInternAtom(display, "XdndFinished", False);
    aSelection = XInternAtom(display, "XdndSelection", False);
    aCopy = XInternAtom(display, "XdndActionCopy", False);
    aUriList = XInternAtom(display, "text/uri-list", False);
    char* uris = UriList(argc - 3, argv + 3);

    Window target = None;
    int version = AwareWindowAt(x, y, &target);
    if (version <= 0) {
        fprintf(stderr, "xdnd_drop: no window at %d, %d takes drops\n", x, y);
        return 1;
    }
    if (version > 5) version = 5;
    source = XCreateSimpleWindow(display, DefaultRootWindow(display), -10, -10, 1, 1, 0, 0, 0);
    XSetSelectionOwner(display, aSelection, source, CurrentTime);

    Send(target, aEnter, (long)version << 24, (long)aUriList, None, None);
    Send(target, aPosition, 0, ((long)x << 16) | y, CurrentTime, (long)aCopy);

    const time_t deadline = time(NULL) + 20;
    int dropped = 0;
    while (time(NULL) < deadline) {
        if (!XPending(display)) {
            struct pollfd wait = {ConnectionNumber(display), POLLIN, 0};
            poll(&wait, 1, 200);
            continue;
        }
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == SelectionRequest) {
            /* The target reads the list of files as the selection's text/uri-list. */
            XSelectionRequestEvent* request = &event.xselectionrequest;
            XEvent reply;
            memset(&reply, 0, sizeof reply);
            reply.xselection.type = SelectionNotify;
            reply.xselection.requestor = request->requestor;
            reply.xselection.selection = request->selection;
            reply.xselection.target = request->target;
            reply.xselection.time = request->time;
            reply.xselection.property = None;
            if (request->target == aUriList) {
                Atom property = request->property != None ? request->property : request->target;
                XChangeProperty(display, request->requestor, property, aUriList, 8, PropModeReplace,
                                (unsigned char*)uris, (int)strlen(uris));
                reply.xselection.property = property;
            }
            XSendEvent(display, request->requestor, False, NoEventMask, &reply);
            XFlush(display);
        } else if (event.type == ClientMessage && event.xclient.message_type == aStatus) {
            if (dropped) continue;
            if (!(event.xclient.data.l[1] & 1)) {
                Send(target, aLeave, 0, 0, 0, 0);
                printf("refused\n");
                return 3;
            }
            Send(target, aDrop, 0, CurrentTime, 0, 0);
            dropped = 1;
        } else if (event.type == ClientMessage && event.xclient.message_type == aFinished) {
            printf("dropped\n");
            return 0;
        }
    }
    fprintf(stderr, "xdnd_drop: the window at %d, %d did not answer within 20 s\n", x, y);
    return 1;
}
