// SPDX-License-Identifier: LGPL-2.1-or-later
// Test-only LD_PRELOAD library for running a host that insists on an ALSA
// sequencer (for its MIDI engine) on a machine without /dev/snd/seq, as in
// containers and CI. It stands in for every sequencer call that takes a
// handle: snd_seq_open hands out a dummy client with no other clients,
// whose input never has an event (its poll descriptor is a pipe nobody
// writes to), whose output swallows every event, whose subscriptions
// succeed with no one at the other end and whose queue stays at tick 0.
// Its own ports are described by number. Calls on the opaque info
// structures go to the real library. With MORVANE_SEQ_SHIM=error,
// snd_seq_open fails with -ENODEV instead, as it does on such a machine
// without the shim.
//   cc -shared -fPIC -o seq_shim.so seq_shim.c -l:libasound.so.2
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

// The library's opaque types, as far as this file needs them.
typedef struct dummy_seq snd_seq_t;
typedef struct snd_seq_event snd_seq_event_t;
typedef struct snd_seq_port_info snd_seq_port_info_t;
typedef struct snd_seq_client_info snd_seq_client_info_t;
typedef struct snd_seq_queue_status snd_seq_queue_status_t;
typedef struct snd_seq_queue_tempo snd_seq_queue_tempo_t;
typedef struct snd_seq_queue_timer snd_seq_queue_timer_t;
typedef struct snd_seq_port_subscribe snd_seq_port_subscribe_t;
typedef struct snd_seq_query_subscribe snd_seq_query_subscribe_t;
typedef struct snd_seq_remove_events snd_seq_remove_events_t;

size_t snd_seq_port_info_sizeof(void);
void snd_seq_port_info_set_client(snd_seq_port_info_t* info, int client);
void snd_seq_port_info_set_port(snd_seq_port_info_t* info, int port);
size_t snd_seq_queue_status_sizeof(void);
size_t snd_seq_queue_tempo_sizeof(void);
void snd_seq_queue_tempo_set_skew(snd_seq_queue_tempo_t* info, unsigned int skew);
void snd_seq_queue_tempo_set_skew_base(snd_seq_queue_tempo_t* info, unsigned int base);
void snd_seq_queue_tempo_set_tempo(snd_seq_queue_tempo_t* info, unsigned int tempo);
void snd_seq_queue_tempo_set_ppq(snd_seq_queue_tempo_t* info, int ppq);

#define DUMMY_CLIENT 128
#define MAX_PORTS 256

struct dummy_seq {
  int _pipe[2];  // [0] polled for input, never readable
  int _next_port;
};

int snd_seq_open(snd_seq_t** seq, const char* name, int streams, int mode)
{
  (void)name;
  (void)streams;
  (void)mode;
  const char* how = getenv("MORVANE_SEQ_SHIM");
  if (how != NULL && strcmp(how, "error") == 0) {
    return -ENODEV;
  }
  snd_seq_t* s = calloc(1, sizeof *s);
  if (s == NULL) {
    return -ENOMEM;
  }
  if (pipe2(s->_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    free(s);
    return -errno;
  }
  *seq = s;
  return 0;
}

int snd_seq_close(snd_seq_t* seq)
{
  if (seq != NULL) {
    close(seq->_pipe[0]);
    close(seq->_pipe[1]);
    free(seq);
  }
  return 0;
}

int snd_seq_set_client_name(snd_seq_t* seq, const char* name)
{
  (void)seq;
  (void)name;
  return 0;
}

int snd_seq_client_id(snd_seq_t* seq)
{
  (void)seq;
  return DUMMY_CLIENT;
}

int snd_seq_create_simple_port(snd_seq_t* seq, const char* name, unsigned int caps, unsigned int type)
{
  (void)name;
  (void)caps;
  (void)type;
  return seq->_next_port < MAX_PORTS ? seq->_next_port++ : -ENOMEM;
}

int snd_seq_delete_simple_port(snd_seq_t* seq, int port)
{
  (void)seq;
  (void)port;
  return 0;
}

int snd_seq_alloc_queue(snd_seq_t* seq)
{
  (void)seq;
  return 0;
}

int snd_seq_free_queue(snd_seq_t* seq, int q)
{
  (void)seq;
  (void)q;
  return 0;
}

int snd_seq_control_queue(snd_seq_t* seq, int q, int type, int value, snd_seq_event_t* ev)
{
  (void)seq;
  (void)q;
  (void)type;
  (void)value;
  (void)ev;
  return 0;
}

int snd_seq_get_queue_status(snd_seq_t* seq, int q, snd_seq_queue_status_t* status)
{
  (void)seq;
  (void)q;
  memset(status, 0, snd_seq_queue_status_sizeof());
  return 0;
}

int snd_seq_get_queue_tempo(snd_seq_t* seq, int q, snd_seq_queue_tempo_t* tempo)
{
  (void)seq;
  (void)q;
  memset(tempo, 0, snd_seq_queue_tempo_sizeof());
  snd_seq_queue_tempo_set_tempo(tempo, 500000);
  snd_seq_queue_tempo_set_ppq(tempo, 96);
  snd_seq_queue_tempo_set_skew(tempo, 0x10000);
  snd_seq_queue_tempo_set_skew_base(tempo, 0x10000);
  return 0;
}

int snd_seq_set_queue_tempo(snd_seq_t* seq, int q, snd_seq_queue_tempo_t* tempo)
{
  (void)seq;
  (void)q;
  (void)tempo;
  return 0;
}

int snd_seq_set_queue_timer(snd_seq_t* seq, int q, snd_seq_queue_timer_t* timer)
{
  (void)seq;
  (void)q;
  (void)timer;
  return 0;
}

int snd_seq_poll_descriptors_count(snd_seq_t* seq, short events)
{
  (void)seq;
  return (events & POLLIN) ? 1 : 0;
}

int snd_seq_poll_descriptors(snd_seq_t* seq, struct pollfd* pfds, unsigned int space, short events)
{
  if (space < 1 || !(events & POLLIN)) {
    return 0;
  }
  pfds[0].fd = seq->_pipe[0];
  pfds[0].events = POLLIN;
  pfds[0].revents = 0;
  return 1;
}

int snd_seq_event_input(snd_seq_t* seq, snd_seq_event_t** ev)
{
  (void)seq;
  *ev = NULL;
  return -EAGAIN;
}

int snd_seq_event_input_pending(snd_seq_t* seq, int fetch_sequencer)
{
  (void)seq;
  (void)fetch_sequencer;
  return 0;
}

// Output is swallowed: reported as sent, with nothing left in the buffer.
int snd_seq_event_output(snd_seq_t* seq, snd_seq_event_t* ev)
{
  (void)seq;
  (void)ev;
  return 0;
}

int snd_seq_event_output_direct(snd_seq_t* seq, snd_seq_event_t* ev)
{
  (void)seq;
  (void)ev;
  return 1;
}

int snd_seq_drain_output(snd_seq_t* seq)
{
  (void)seq;
  return 0;
}

int snd_seq_drop_input(snd_seq_t* seq)
{
  (void)seq;
  return 0;
}

int snd_seq_drop_output(snd_seq_t* seq)
{
  (void)seq;
  return 0;
}

int snd_seq_remove_events(snd_seq_t* seq, snd_seq_remove_events_t* rmp)
{
  (void)seq;
  (void)rmp;
  return 0;
}

// The dummy client's own ports are described by number only; no other
// clients, ports or subscribers exist.
static int own_port_info(const snd_seq_t* seq, int client, int port, snd_seq_port_info_t* info)
{
  if (client != DUMMY_CLIENT || port < 0 || port >= seq->_next_port) {
    return -ENOENT;
  }
  memset(info, 0, snd_seq_port_info_sizeof());
  snd_seq_port_info_set_client(info, client);
  snd_seq_port_info_set_port(info, port);
  return 0;
}

int snd_seq_get_any_client_info(snd_seq_t* seq, int client, snd_seq_client_info_t* info)
{
  (void)seq;
  (void)client;
  (void)info;
  return -ENOENT;
}

int snd_seq_get_any_port_info(snd_seq_t* seq, int client, int port, snd_seq_port_info_t* info)
{
  return own_port_info(seq, client, port, info);
}

int snd_seq_get_port_info(snd_seq_t* seq, int port, snd_seq_port_info_t* info)
{
  return own_port_info(seq, DUMMY_CLIENT, port, info);
}

int snd_seq_set_port_info(snd_seq_t* seq, int port, snd_seq_port_info_t* info)
{
  (void)seq;
  (void)port;
  (void)info;
  return 0;
}

int snd_seq_query_next_client(snd_seq_t* seq, snd_seq_client_info_t* info)
{
  (void)seq;
  (void)info;
  return -ENOENT;
}

int snd_seq_query_next_port(snd_seq_t* seq, snd_seq_port_info_t* info)
{
  (void)seq;
  (void)info;
  return -ENOENT;
}

int snd_seq_query_port_subscribers(snd_seq_t* seq, snd_seq_query_subscribe_t* subs)
{
  (void)seq;
  (void)subs;
  return -ENOENT;
}

int snd_seq_subscribe_port(snd_seq_t* seq, snd_seq_port_subscribe_t* sub)
{
  (void)seq;
  (void)sub;
  return 0;
}

int snd_seq_unsubscribe_port(snd_seq_t* seq, snd_seq_port_subscribe_t* sub)
{
  (void)seq;
  (void)sub;
  return 0;
}
