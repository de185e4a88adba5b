// The system's socket headers: address conversion (inet_pton, inet_ntop), byte order and
// gethostname. Winsock is started by Asio, which every user of these links.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <unistd.h>
#endif
