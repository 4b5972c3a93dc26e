// HTTP client and development web server entry points used by the loops.
// Stand-ins until networking lands.
#pragma once

void http_tick(void);
void http_quit(void);
void httpserver_tick(void);
void httpserver_quit(void);
