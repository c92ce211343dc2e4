// Small I/O helpers shared by the control link's transports (and the PC
// client).
#pragma once

#include <chrono>
#include <cstddef>

// Writes all bytes to a socket or a serial port: retries short writes,
// waits while the descriptor is full, never raises SIGPIPE. False when the
// descriptor fails, or when the bytes are not all written within
// kLinkWriteBoundMs in all (a socket is written without waiting inside
// send(), so its own send time-out adds nothing to that).
constexpr int kLinkWriteBoundMs = 3000;
bool link_write_all(int fd, const unsigned char* data, size_t length);
// The same with the bound given as the time by which the bytes must be
// written.
bool link_write_all(int fd, const unsigned char* data, size_t length, std::chrono::steady_clock::time_point end);

// Opens a server socket (SOCK_DGRAM or SOCK_STREAM) on the platform's bind
// address for a device port (platform::Net::listenPort); a stream socket is
// made non-blocking and listens with the backlog. Returns the descriptor
// and the bound port, or -1 (logged; errno tells why). Only a TCP port is
// taken with SO_REUSEADDR (a restart finds it free at once); a UDP port
// another program holds is not shared.
int link_open_server(int type, unsigned short devicePort, int backlog, unsigned short& boundPort);
