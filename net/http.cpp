// Stand-in networking: no client requests, no web server.
#include "net/http.h"

void http_tick(void) {}
void http_quit(void) {}
void httpserver_tick(void) {}
void httpserver_quit(void) {}
