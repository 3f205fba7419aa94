/* xdnd_drop: drops files on the X window under a screen point, the way a
 * file manager does it with XDND, so that the end-to-end tests can drop
 * files on Korvane's window while it runs under Wine on Xvfb.
 *
 *   cc -O2 -o xdnd_drop xdnd_drop.c -lX11
 *   DISPLAY=:57 ./xdnd_drop [--timeout SECONDS] X Y FILE...
 *
 * X and Y are root coordinates. The target is the deepest window under the
 * point that is XdndAware (or names a proxy through XdndProxy); Wine puts
 * the property on its top-level X window. The files are offered as
 * text/uri-list, one file:///... line per file ended by CRLF, relative
 * names made absolute against the current directory.
 * Prints one word and exits with its status:
 *   DROPPED 0   the target accepted the drop and said it has finished
 *   REFUSED 1   the target's XdndStatus did not accept the drop
 *   TIMEOUT 2   the whole exchange took longer than SECONDS (default 10)
 *   status 3    no XdndAware window under the point (message on stderr)
 *   status 4    bad arguments or no display
 */
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/select.h>
#include <sys/time.h>
#include <unistd.h>

static Display *dpy;
static Window source;
static Atom aAware, aProxy, aEnter, aPosition, aStatus, aDrop, aLeave, aFinished;
static Atom aSelection, aCopy, aUriList, aTargets;
static char *uris;
static size_t urisLen;
static double deadline;

/* A target may go away under us; its BadWindow must not end the program. */
static int IgnoreErrors(Display *d, XErrorEvent *e) { (void)d; (void)e; return 0; }

static double Now(void)
{
    struct timeval tv;
    gettimeofday(&tv, NULL);
    return tv.tv_sec + tv.tv_usec / 1e6;
}

/* Appends "file://" and the %-escaped absolute path, then CRLF. */
static void AddUri(const char *file)
{
    char cwd[4096] = "";
    if (file[0] != '/') {
        if (!getcwd(cwd, sizeof cwd - 1)) { perror("getcwd"); exit(4); }
        if (cwd[strlen(cwd) - 1] != '/') strcat(cwd, "/");
    }
    size_t need = urisLen + 7 + 3 * (strlen(cwd) + strlen(file)) + 3;
    uris = realloc(uris, need);
    if (!uris) exit(4);
    urisLen += sprintf(uris + urisLen, "file://");
    for (int part = 0; part < 2; ++part)
        for (const unsigned char *p = (const unsigned char *)(part ? file : cwd); *p; ++p) {
            if ((*p >= 'A' && *p <= 'Z') || (*p >= 'a' && *p <= 'z') || (*p >= '0' && *p <= '9')
                || strchr("-._~/", *p))
                uris[urisLen++] = (char)*p;
            else
                urisLen += sprintf(uris + urisLen, "%%%02X", *p);
        }
    urisLen += sprintf(uris + urisLen, "\r\n");
}

/* The first 32-bit item of a window property, or 0 when there is none. */
static unsigned long Property32(Window w, Atom name, Atom type)
{
    Atom actual;
    int format;
    unsigned long count, after, value = 0;
    unsigned char *data = NULL;
    if (XGetWindowProperty(dpy, w, name, 0, 1, False, type, &actual, &format, &count, &after, &data)
            == Success && actual == type && format == 32 && count == 1)
        value = ((unsigned long *)data)[0];
    if (data) XFree(data);
    return value;
}

/* The window that takes the messages for w: w itself, or its valid proxy. */
static Window MessageWindow(Window w)
{
    Window proxy = Property32(w, aProxy, XA_WINDOW);
    return proxy && Property32(proxy, aProxy, XA_WINDOW) == proxy ? proxy : w;
}

static void Send(Window target, Window to, Atom type, long l1, long l2, long l3, long l4)
{
    XEvent e;
    memset(&e, 0, sizeof e);
    e.xclient.type = ClientMessage;
    e.xclient.display = dpy;
    e.xclient.window = target; /* stays the target even when a proxy takes it */
    e.xclient.message_type = type;
    e.xclient.format = 32;
    e.xclient.data.l[0] = (long)source;
    e.xclient.data.l[1] = l1;
    e.xclient.data.l[2] = l2;
    e.xclient.data.l[3] = l3;
    e.xclient.data.l[4] = l4;
    XSendEvent(dpy, to, False, NoEventMask, &e);
    XFlush(dpy);
}

/* Hands over the file list, or the list of targets; refuses anything else. */
static void AnswerRequest(const XSelectionRequestEvent *r)
{
    XEvent reply;
    memset(&reply, 0, sizeof reply);
    reply.xselection.type = SelectionNotify;
    reply.xselection.requestor = r->requestor;
    reply.xselection.selection = r->selection;
    reply.xselection.target = r->target;
    reply.xselection.time = r->time;
    reply.xselection.property = None;
    Atom property = r->property != None ? r->property : r->target; /* old clients send None */
    if (r->selection == aSelection && r->target == aUriList) {
        XChangeProperty(dpy, r->requestor, property, aUriList, 8, PropModeReplace,
                        (unsigned char *)uris, (int)urisLen);
        reply.xselection.property = property;
    } else if (r->selection == aSelection && r->target == aTargets) {
        Atom offered[2] = { aTargets, aUriList };
        XChangeProperty(dpy, r->requestor, property, XA_ATOM, 32, PropModeReplace,
                        (unsigned char *)offered, 2);
        reply.xselection.property = property;
    }
    XSendEvent(dpy, r->requestor, False, NoEventMask, &reply);
    XFlush(dpy);
}

/* Waits for the client message `type`, answering selection requests
 * meanwhile. Returns 0 once the deadline has passed. */
static int WaitFor(Atom type, XClientMessageEvent *out)
{
    int fd = ConnectionNumber(dpy);
    for (;;) {
        while (XPending(dpy)) {
            XEvent e;
            XNextEvent(dpy, &e);
            if (e.type == SelectionRequest)
                AnswerRequest(&e.xselectionrequest);
            else if (e.type == ClientMessage && e.xclient.message_type == type) {
                *out = e.xclient;
                return 1;
            }
        }
        double left = deadline - Now();
        if (left <= 0) return 0;
        struct timeval tv = { (time_t)left, (suseconds_t)((left - (time_t)left) * 1e6) };
        fd_set fds;
        FD_ZERO(&fds);
        FD_SET(fd, &fds);
        if (select(fd + 1, &fds, NULL, NULL, &tv) < 0 && errno != EINTR) { perror("select"); exit(4); }
    }
}

int main(int argc, char **argv)
{
    double timeout = 10;
    int arg = 1;
    if (arg + 1 < argc && strcmp(argv[arg], "--timeout") == 0) {
        timeout = atof(argv[arg + 1]);
        arg += 2;
    }
    if (argc - arg < 3 || timeout <= 0) {
        fprintf(stderr, "usage: xdnd_drop [--timeout SECONDS] X Y FILE...\n");
        return 4;
    }
    int x = atoi(argv[arg]), y = atoi(argv[arg + 1]);
    for (int i = arg + 2; i < argc; ++i) AddUri(argv[i]);

    if (!(dpy = XOpenDisplay(NULL))) {
        fprintf(stderr, "xdnd_drop: cannot open display %s\n", XDisplayName(NULL));
        return 4;
    }
    XSetErrorHandler(IgnoreErrors);
    deadline = Now() + timeout;
    aAware = XInternAtom(dpy, "XdndAware", False);
    aProxy = XInternAtom(dpy, "XdndProxy", False);
    aEnter = XInternAtom(dpy, "XdndEnter", False);
    aPosition = XInternAtom(dpy, "XdndPosition", False);
    aStatus = XInternAtom(dpy, "XdndStatus", False);
    aDrop = XInternAtom(dpy, "XdndDrop", False);
    aLeave = XInternAtom(dpy, "XdndLeave", False);
    aFinished = XInternAtom(dpy, "XdndFinished", False);
    aSelection = XInternAtom(dpy, "XdndSelection", False);
    aCopy = XInternAtom(dpy, "XdndActionCopy", False);
    aUriList = XInternAtom(dpy, "text/uri-list", False);
    aTargets = XInternAtom(dpy, "TARGETS", False);

    Window root = DefaultRootWindow(dpy);
    source = XCreateWindow(dpy, root, -10, -10, 1, 1, 0, 0, InputOnly, CopyFromParent, 0, NULL);
    XSetSelectionOwner(dpy, aSelection, source, CurrentTime);

    /* Walk down from the root through the windows under the point; the
     * deepest one that is aware, itself or through its proxy, wins. A
     * window that is still being mapped, or one of an earlier program still
     * closing over the point, is waited out until the deadline. */
    Window target = None, to = None, child;
    unsigned long version = 0;
    int wx, wy;
    for (;;) {
        for (Window w = root; w != None; w = child) {
            Window via = MessageWindow(w);
            unsigned long v = Property32(via, aAware, XA_ATOM);
            if (v) target = w, to = via, version = v;
            if (!XTranslateCoordinates(dpy, root, w, x, y, &wx, &wy, &child)) break;
        }
        if (target != None || Now() > deadline) break;
        usleep(100000);
    }
    if (target == None) {
        fprintf(stderr, "xdnd_drop: no XdndAware window at %d,%d\n", x, y);
        return 3;
    }
    if (version > 5) version = 5;

    XClientMessageEvent m;
    Send(target, to, aEnter, (long)(version << 24), (long)aUriList, None, None);
    Send(target, to, aPosition, 0, ((long)x << 16) | (y & 0xFFFF), CurrentTime, (long)aCopy);
    if (!WaitFor(aStatus, &m)) goto timeout;
    if (!(m.data.l[1] & 1)) {
        Send(target, to, aLeave, 0, 0, 0, 0);
        puts("REFUSED");
        return 1;
    }
    Send(target, to, aDrop, 0, CurrentTime, 0, 0);
    if (!WaitFor(aFinished, &m)) goto timeout;
    puts("DROPPED");
    XCloseDisplay(dpy);
    return 0;
timeout:
    Send(target, to, aLeave, 0, 0, 0, 0);
    puts("TIMEOUT");
    return 2;
}
