/* What a window manager asks of a window, for the end-to-end tests:
 *   x11-probe ping WINDOW     sends _NET_WM_PING; prints the milliseconds until the answer
 *                             (exit 1 without one within 2 s)
 *   x11-probe expose WINDOW   covers the window with a magenta one for 150 ms, uncovers it,
 *                             and after 400 ms prints the share of the window still magenta:
 *                             0 when the window drew itself again
 *   x11-probe close WINDOW    sends WM_DELETE_WINDOW, as a close box does */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>
#include <xcb/xcb.h>

static xcb_connection_t* conn;
static xcb_screen_t* screen;

static xcb_atom_t atom(const char* name) {
  xcb_intern_atom_reply_t* reply =
      xcb_intern_atom_reply(conn, xcb_intern_atom(conn, 0, (uint16_t)strlen(name), name), NULL);
  xcb_atom_t result = reply ? reply->atom : XCB_NONE;
  free(reply);
  return result;
}

static double now_ms(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

static void send_protocol(xcb_window_t window, xcb_atom_t protocol, xcb_window_t target,
                          uint32_t mask, uint32_t stamp) {
  xcb_client_message_event_t event;
  memset(&event, 0, sizeof event);
  event.response_type = XCB_CLIENT_MESSAGE;
  event.format = 32;
  event.window = window;
  event.type = atom("WM_PROTOCOLS");
  event.data.data32[0] = protocol;
  event.data.data32[1] = stamp;
  event.data.data32[2] = window;
  xcb_send_event(conn, 0, target, mask, (const char*)&event);
  xcb_flush(conn);
}

static int ping(xcb_window_t window) {
  xcb_atom_t pingAtom = atom("_NET_WM_PING"), protocols = atom("WM_PROTOCOLS");
  /* The answer goes to the root, for whoever hears its structure (Qt) or its children's. */
  uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
  xcb_change_window_attributes(conn, screen->root, XCB_CW_EVENT_MASK, &mask);
  uint32_t stamp = (uint32_t)now_ms();
  double sent = now_ms();
  send_protocol(window, pingAtom, window, XCB_EVENT_MASK_NO_EVENT, stamp);
  while (now_ms() - sent < 2000) {
    xcb_generic_event_t* event;
    while ((event = xcb_poll_for_event(conn)) != NULL) {
      int answer = 0;
      if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
        xcb_client_message_event_t* message = (xcb_client_message_event_t*)event;
        answer = message->type == protocols && message->data.data32[0] == pingAtom &&
                 message->data.data32[1] == stamp && message->data.data32[2] == window;
      }
      free(event);
      if (answer) {
        printf("%.0f\n", now_ms() - sent);
        return 0;
      }
    }
    usleep(1000);
  }
  printf("no answer\n");
  return 1;
}

static int expose(xcb_window_t window) {
  xcb_get_geometry_reply_t* geometry = xcb_get_geometry_reply(conn, xcb_get_geometry(conn, window), NULL);
  xcb_translate_coordinates_reply_t* where = xcb_translate_coordinates_reply(
      conn, xcb_translate_coordinates(conn, window, screen->root, 0, 0), NULL);
  if (geometry == NULL || where == NULL) return 2;
  uint16_t width = geometry->width, height = geometry->height;
  int16_t x = where->dst_x, y = where->dst_y;
  xcb_window_t cover = xcb_generate_id(conn);
  uint32_t values[] = {0xff00ff, 1};
  xcb_create_window(conn, XCB_COPY_FROM_PARENT, cover, screen->root, x, y, width, height, 0,
                    XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                    XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
  xcb_map_window(conn, cover);
  xcb_flush(conn);
  usleep(150 * 1000);
  xcb_unmap_window(conn, cover);
  xcb_flush(conn);
  usleep(400 * 1000);
  xcb_get_image_reply_t* image = xcb_get_image_reply(
      conn, xcb_get_image(conn, XCB_IMAGE_FORMAT_Z_PIXMAP, screen->root, x, y, width, height, ~0u), NULL);
  if (image == NULL || image->depth != 24) return 2;
  const uint32_t* pixels = (const uint32_t*)xcb_get_image_data(image);
  long count = xcb_get_image_data_length(image) / 4, magenta = 0;
  for (long i = 0; i < count; ++i) magenta += (pixels[i] & 0xffffff) == 0xff00ff;
  printf("%.2f\n", count ? (double)magenta / count : 1.0);
  free(image);
  free(geometry);
  free(where);
  return 0;
}

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: x11-probe ping|expose|close WINDOW\n");
    return 2;
  }
  conn = xcb_connect(NULL, NULL);
  if (xcb_connection_has_error(conn)) return 2;
  screen = xcb_setup_roots_iterator(xcb_get_setup(conn)).data;
  xcb_window_t window = (xcb_window_t)strtoul(argv[2], NULL, 0);
  int status = 2;
  if (strcmp(argv[1], "ping") == 0) status = ping(window);
  else if (strcmp(argv[1], "expose") == 0) status = expose(window);
  else if (strcmp(argv[1], "close") == 0) {
    send_protocol(window, atom("WM_DELETE_WINDOW"), window, XCB_EVENT_MASK_NO_EVENT, XCB_CURRENT_TIME);
    /* A round trip, so the server has handled the message before this client goes: requests
       still unread when a client disconnects can be dropped with it. */
    free(xcb_get_input_focus_reply(conn, xcb_get_input_focus(conn), NULL));
    status = 0;
  }
  xcb_disconnect(conn);
  return status;
}
