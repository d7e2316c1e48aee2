// Thread creation for the server's threads.
#pragma once
#include <pthread.h>

// Creates a thread with default attributes; 0 on success, else the creation result.
int VTN_CREATE_THREAD(pthread_t* out, void* (*start)(void*), void* arg);
// As VTN_CREATE_THREAD, and detached: for threads nobody joins (request threads).
int VTN_CREATE_DETACHED_THREAD(pthread_t* out, void* (*start)(void*), void* arg);
