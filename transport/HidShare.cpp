#include "transport/HidShare.h"

#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace brumel {

namespace {

constexpr const char* kMutexNameFormat = "%s-5004780a-b256-43f3-88f5-1c1a798e40b3";
constexpr const char* kAreaNameFormat = "%s-12d3688b-44c0-412a-85dd-5ebcfea9f503";

void FillName(char (&name)[COneInstance2::kNameSize], const char* format,
              const std::string& baseName) {
  std::memset(name, 0, sizeof name);
  std::snprintf(name, sizeof name, format, baseName.c_str());
}

}  // namespace

// ---- COneInstance2 ------------------------------------------------------------------------

COneInstance2::COneInstance2() { std::memset(MutexName, 0, sizeof MutexName); }

COneInstance2::~COneInstance2() {
  // A refused release cannot leave a destructor; closing the handle gives the mutex back anyway.
  try {
    ReleaseAndClose();
  } catch (const std::runtime_error&) {
    Close();
  }
}

void COneInstance2::SetName(const std::string& baseName) {
  FillName(MutexName, kMutexNameFormat, baseName);
}

void COneInstance2::Open() {
  if (m_hMutexOneInstance.IsOpen() || LockCount != 0) return;
  m_hMutexOneInstance.Open(MutexName);
}

void COneInstance2::Close() { m_hMutexOneInstance.Close(); }

void COneInstance2::Wait(int64_t timeoutMs) {
  if (!m_hMutexOneInstance.IsOpen()) {
    LockCount = 0;
    return;
  }
  switch (m_hMutexOneInstance.Wait(timeoutMs)) {
    case plat::MutexWait::Acquired:
    case plat::MutexWait::Abandoned:  // owned now, though its last owner died holding it
      ++LockCount;
      break;
    case plat::MutexWait::TimedOut:
    case plat::MutexWait::Failed:
      break;
  }
}

void COneInstance2::Release() {
  if (LockCount == 0) return;
  --LockCount;
  if (!m_hMutexOneInstance.Release()) {
    throw std::runtime_error("ReleaseMutex(m_hMutexOneInstance)");
  }
}

void COneInstance2::TryAcquire(int64_t timeoutMs) {
  Open();
  Wait(timeoutMs);
  if (LockCount == 0) Close();
}

void COneInstance2::ReleaseAndClose() {
  Release();
  Close();
}

bool COneInstance2::IsLocked() const { return LockCount != 0; }

// ---- ShareArea ----------------------------------------------------------------------------

template <typename T>
ShareArea<T>::ShareArea() {
  std::memset(AreaName, 0, sizeof AreaName);
}

template <typename T>
ShareArea<T>::~ShareArea() {
  try {
    Close();
  } catch (const std::runtime_error&) {
    // The mapping is gone; closing the mutex below gives it back.
  }
  AreaMutex.Close();
}

template <typename T>
void ShareArea<T>::SetName(const std::string& baseName) {
  FillName(AreaName, kAreaNameFormat, baseName);
  AreaMutex.SetName(baseName);
}

template <typename T>
void ShareArea<T>::Close() {
  AreaMutex.Wait(COneInstance2::kNoTimeLimit);
  MappingHandle.Unmap();
  View = nullptr;
  MappingHandle.Close();
  AreaMutex.Release();
  AreaMutex.Close();
}

template <typename T>
void ShareArea<T>::Open() {
  AreaMutex.Open();
  AreaMutex.Wait(COneInstance2::kNoTimeLimit);
  bool created = false;
  if (!MappingHandle.IsOpen()) MappingHandle.Open(AreaName, sizeof(T), &created);
  if (!View && MappingHandle.IsOpen()) {
    View = static_cast<T*>(MappingHandle.Map());
    if (View && created) std::memset(static_cast<void*>(View), 0, sizeof(T));
  }
  AreaMutex.Release();
}

template <typename T>
T* ShareArea<T>::Get() {
  if (!AreaMutex.IsLocked()) throw std::runtime_error("share area not locked");
  return View;
}

template <typename T>
T* ShareArea<T>::Lock() {
  AreaMutex.Wait(COneInstance2::kNoTimeLimit);
  return View;
}

template <typename T>
void ShareArea<T>::Unlock() {
  if (View) MappingHandle.Flush();
  AreaMutex.Release();
}

template class ShareArea<CHidShare>;

}  // namespace brumel
