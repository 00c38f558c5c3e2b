#include <ferrolink/outside/CustomWaitHandle.h>

CCustomWaitHandle::~CCustomWaitHandle() = default;

void* CCustomWaitHandle::GetWaitHandle() { return this; }
