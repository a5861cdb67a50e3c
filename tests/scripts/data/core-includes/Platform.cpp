// Each include below but the standard ones must be reported.
#include <cstdio>
#include <thread>
#include <QWidget>
#include <QtCore/QObject>
#include <unistd.h>
#include <sys/stat.h>
#include <poll.h>
#include <libudev.h>
#include <linux/hidraw.h>
#include <X11/Xlib.h>
#include "device/HidDevice.h"
#include <windows.h>
#include <Windows.h>
#include <io.h>
#include <hidsdi.h>
#include <float.h>
