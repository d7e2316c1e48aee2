#include "vtnthread.h"

int VTN_CREATE_THREAD(pthread_t* out, void* (*start)(void*), void* arg)
{
    return pthread_create(out, nullptr, start, arg);
}

int VTN_CREATE_DETACHED_THREAD(pthread_t* out, void* (*start)(void*), void* arg)
{
    pthread_attr_t attr;
    int rc = pthread_attr_init(&attr);
    if (rc != 0)
        return rc;
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    rc = pthread_create(out, &attr, start, arg);
    pthread_attr_destroy(&attr);
    return rc;
}
