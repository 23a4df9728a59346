/*
 * pending.dll: answers HSE_STATUS_PENDING and finishes the request later, from a worker
 * thread of its own, with WriteClient and HSE_REQ_DONE_WITH_SESSION.
 *
 * Query (flags, any order):
 *   (none)   the worker writes "pending: finished by the worker\n", then sends
 *            HSE_REQ_DONE_WITH_SESSION.
 *   header   the worker first sends the header request "200 OK" with
 *            "Content-Type: text/plain\r\n\r\n".
 *   early    no worker: the calling thread writes "pending: finished before PENDING\n" and
 *            sends HSE_REQ_DONE_WITH_SESSION before HttpExtensionProc returns PENDING.
 *   never    no worker and no finish: the request stays pending for good.
 *   hold     no worker: the request stays pending until the loader of the test calls the
 *            exported pending_release_held(); pending_held_count() tells how many wait.
 *   inside   no worker and never PENDING: HttpExtensionProc itself waits until
 *            pending_release_held() (a module that hangs); counted by pending_held_count().
 *
 * The worker is started on first use and joined when the module is unloaded.
 */
#include <pthread.h>

#include "module_util.h"

static const char WorkerText[] = "pending: finished by the worker\n";
static const char EarlyText[] = "pending: finished before PENDING\n";

/* One request handed to the worker. */
struct job {
  EXTENSION_CONTROL_BLOCK* ecb;
  int with_header;
  struct job* next;
};

/* The worker and its queue, guarded by queue_lock. */
static pthread_mutex_t queue_lock = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t queue_wake = PTHREAD_COND_INITIALIZER;
static struct job* queue_head = NULL;
static struct job* queue_tail = NULL;
static int worker_running = 0;
static int worker_stopping = 0;
static pthread_t worker;

/* Requests held by "hold", newest first, and calls waiting "inside", guarded by queue_lock;
 * a release makes every waiting call return. */
static struct job* held_head = NULL;
static int held_count = 0;
static int inside_count = 0;
static unsigned release_round = 0;
static pthread_cond_t released = PTHREAD_COND_INITIALIZER;

/* Writes the reply and releases the request; ecb is not used afterwards. */
static void finish(EXTENSION_CONTROL_BLOCK* ecb, int with_header, const char* text) {
  if (with_header)
    send_header_ex(ecb, "200 OK", "Content-Type: text/plain\r\n\r\n");
  write_text(ecb, text);
  ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_DONE_WITH_SESSION, NULL, NULL, NULL);
}

/* Next job, or NULL when the worker is asked to stop and the queue is empty. */
static struct job* take_job(void) {
  pthread_mutex_lock(&queue_lock);
  while (queue_head == NULL && !worker_stopping)
    pthread_cond_wait(&queue_wake, &queue_lock);
  struct job* job = queue_head;
  if (job != NULL) {
    queue_head = job->next;
    if (queue_head == NULL)
      queue_tail = NULL;
  }
  pthread_mutex_unlock(&queue_lock);
  return job;
}

static void* run_worker(void* unused) {
  (void)unused;
  struct job* job;
  while ((job = take_job()) != NULL) {
    finish(job->ecb, job->with_header, WorkerText);
    free(job);
  }
  return NULL;
}

/* Queues a job, starting the worker when needed. Returns 0 when that is impossible. */
static int queue_job(struct job* job) {
  int queued = 1;
  pthread_mutex_lock(&queue_lock);
  if (!worker_running) {
    worker_stopping = 0;
    worker_running = pthread_create(&worker, NULL, run_worker, NULL) == 0;
  }
  if (worker_running) {
    if (queue_tail != NULL) {
      queue_tail->next = job;
    } else {
      queue_head = job;
    }
    queue_tail = job;
    pthread_cond_signal(&queue_wake);
  } else {
    queued = 0;
  }
  pthread_mutex_unlock(&queue_lock);
  return queued;
}

/* Lets the worker finish what is queued and joins it. */
static void stop_worker(void) {
  pthread_mutex_lock(&queue_lock);
  int running = worker_running;
  worker_stopping = 1;
  pthread_cond_broadcast(&queue_wake);
  pthread_mutex_unlock(&queue_lock);
  if (!running)
    return;
  pthread_join(worker, NULL);
  pthread_mutex_lock(&queue_lock);
  worker_running = 0;
  pthread_mutex_unlock(&queue_lock);
}

static void hold_job(struct job* job) {
  pthread_mutex_lock(&queue_lock);
  job->next = held_head;
  held_head = job;
  held_count++;
  pthread_mutex_unlock(&queue_lock);
}

/* How many "hold" requests are pending and "inside" calls wait now. */
ISAPI_EXPORT int pending_held_count(void) {
  pthread_mutex_lock(&queue_lock);
  int count = held_count + inside_count;
  pthread_mutex_unlock(&queue_lock);
  return count;
}

/* Lets every "inside" call return, and finishes every held request without writing, on
 * the calling thread. Returns how many of those finishes the server refused. */
ISAPI_EXPORT int pending_release_held(void) {
  pthread_mutex_lock(&queue_lock);
  struct job* job = held_head;
  held_head = NULL;
  held_count = 0;
  release_round++;
  pthread_cond_broadcast(&released);
  pthread_mutex_unlock(&queue_lock);
  int refused = 0;
  while (job != NULL) {
    struct job* next = job->next;
    if (!job->ecb->ServerSupportFunction(job->ecb->ConnID, HSE_REQ_DONE_WITH_SESSION, NULL, NULL,
                                         NULL))
      refused++;
    free(job);
    job = next;
  }
  return refused;
}

/* Waits on the calling thread until the next release. */
static void wait_inside(void) {
  pthread_mutex_lock(&queue_lock);
  unsigned round = release_round;
  inside_count++;
  while (round == release_round)
    pthread_cond_wait(&released, &queue_lock);
  inside_count--;
  pthread_mutex_unlock(&queue_lock);
}

/* The server never calls TerminateExtension; unloading the module still joins the worker. */
__attribute__((destructor)) static void unload_module(void) {
  stop_worker();
}

BOOL WINAPI GetExtensionVersion(HSE_VERSION_INFO* pVer) {
  set_version(pVer, "Quenby pending test module");
  return TRUE;
}

DWORD WINAPI HttpExtensionProc(EXTENSION_CONTROL_BLOCK* pECB) {
  const char* query = pECB->lpszQueryString;
  int with_header = query_has(query, "header");
  if (query_has(query, "never"))
    return HSE_STATUS_PENDING;
  if (query_has(query, "inside")) {
    wait_inside();
    return HSE_STATUS_SUCCESS;
  }
  if (query_has(query, "early")) {
    finish(pECB, with_header, EarlyText);
    return HSE_STATUS_PENDING;
  }
  struct job* job = (struct job*)malloc(sizeof *job);
  if (job == NULL)
    return HSE_STATUS_ERROR;
  job->ecb = pECB;
  job->with_header = with_header;
  job->next = NULL;
  if (query_has(query, "hold")) {
    hold_job(job);
    return HSE_STATUS_PENDING;
  }
  if (!queue_job(job)) {
    free(job);
    write_text(pECB, "pending: no worker thread\n");
    return HSE_STATUS_ERROR;
  }
  return HSE_STATUS_PENDING;
}

BOOL WINAPI TerminateExtension(DWORD dwFlags) {
  (void)dwFlags;
  stop_worker();
  return TRUE;
}
