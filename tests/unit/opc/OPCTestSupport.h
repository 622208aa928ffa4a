// Records what an OPC worker reports, so tests can wait for answers and inspect them.
#pragma once

#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <string>
#include <vector>

#include "OPCInteractor.h"

// The simulator's plant server, as its default configuration and the test configurations name it.
inline const CLSID PlantID = {
    0x12226D95, 0xF79B, 0x42B9, {0xBF, 0x2E, 0x69, 0x40, 0x8C, 0x20, 0xB1, 0x62}};
inline const std::u16string PlantText = u"{12226D95-F79B-42B9-BF2E-69408C20B162}";

inline std::string Narrow(const std::u16string& Text) {
  std::string Out;
  for (char16_t C : Text) Out.push_back(C < 0x80 ? static_cast<char>(C) : '?');
  return Out;
}

inline std::string Join(const TArray& Items) {
  std::string Out;
  for (size_t I = 0; I < Items.size(); ++I) {
    if (I) Out += '|';
    Out += Narrow(Items[I]);
  }
  return Out;
}

// True when another thread cannot take the lock right now.
inline bool HeldElsewhere(TCriticalSection& Lock) {
  return std::async(std::launch::async,
                    [&Lock] {
                      if (!Lock.try_lock()) return true;
                      Lock.unlock();
                      return false;
                    })
      .get();
}

class TRecorder {
 public:
  // Locked: the owner's lock; each answer notes whether it was held during the callback.
  explicit TRecorder(TCriticalSection* Locked = nullptr) : Locked(Locked) {}

  void Add(std::string Event) {
    if (Locked != nullptr && !HeldElsewhere(*Locked)) Event += " UNLOCKED";
    {
      std::lock_guard<std::mutex> Guard(Lock);
      Events.push_back(std::move(Event));
    }
    Changed.notify_all();
  }

  // Waits until at least Count events are recorded (false after a generous timeout).
  bool WaitFor(size_t Count) {
    std::unique_lock<std::mutex> Guard(Lock);
    return Changed.wait_for(Guard, std::chrono::seconds(20),
                            [&] { return Events.size() >= Count; });
  }

  std::vector<std::string> Get() {
    std::lock_guard<std::mutex> Guard(Lock);
    return Events;
  }

  void Wire(TOPCInteractor& W) {
    W.SetCriticalSection(Locked);
    W.SetErrorAnswerCallback([this](int32_t Mode, int32_t Code, int32_t Trans) {
      Add("error mode=" + std::to_string(Mode) + " code=" + std::to_string(Code) +
          " trans=" + std::to_string(Trans));
    });
    W.SetOPCConnectCallback([this](const std::u16string& Id, int32_t Trans) {
      Add("connect " + Narrow(Id) + " trans=" + std::to_string(Trans));
    });
    auto ConnectError = [this](int32_t Mode, int32_t Code, int32_t Trans,
                               const std::u16string& Id) {
      Add("connectError mode=" + std::to_string(Mode) + " code=" + std::to_string(Code) +
          " trans=" + std::to_string(Trans) + " " + Narrow(Id));
    };
    W.SetConnectErrorAnswerCallback(ConnectError);
    W.SetDisconnectErrorAnswerCallback(ConnectError);
    W.SetGetTagsErrorAnswerCallback(ConnectError);
    W.SetOPCDisconnectCallback([this](const std::u16string& Id, int32_t Trans) {
      Add("disconnect " + Narrow(Id) + " trans=" + std::to_string(Trans));
    });
    W.SetGetTagsCallback([this](const std::u16string& Id, int32_t Trans) {
      Add("tags " + Narrow(Id) + " trans=" + std::to_string(Trans));
    });
    W.SetGetValuesCallback([this](const std::u16string& Id, int32_t Trans, const TArray& Names,
                                  const TArray& Values, const TArray& Qualities) {
      Add("values " + Narrow(Id) + " trans=" + std::to_string(Trans) + " names=" + Join(Names) +
          " values=" + Join(Values) + " qualities=" + Join(Qualities));
    });
    W.SetGetValuesErrorAnswerCallback(
        [this](const std::u16string& Id, int32_t Trans, int32_t Code, const TArray& Names) {
          Add("valuesError " + Narrow(Id) + " trans=" + std::to_string(Trans) +
              " code=" + std::to_string(Code) + " names=" + Join(Names));
        });
    W.SetSetValueCallback([this](const std::u16string& Id, int32_t Trans,
                                 const std::u16string& Name, const std::u16string& Value) {
      Add("set " + Narrow(Id) + " trans=" + std::to_string(Trans) + " " + Narrow(Name) + "=" +
          Narrow(Value));
    });
    W.SetSetValueErrorAnswerCallback(
        [this](const std::u16string& Id, int32_t Trans, const std::u16string& Name, int32_t Code) {
          Add("setError " + Narrow(Id) + " trans=" + std::to_string(Trans) + " " + Narrow(Name) +
              " code=" + std::to_string(Code));
        });
    W.SetNoticeCallback([this](const std::u16string& Text) { Add("notice " + Narrow(Text)); });
    W.SetPingCallback([this](const std::u16string& Id, int32_t Trans, int32_t State) {
      if (PingGate.valid()) PingGate.wait();
      Add("ping " + Narrow(Id) + " trans=" + std::to_string(Trans) +
          " state=" + std::to_string(State));
    });
  }

  // While set and not released, every ping answer waits inside the callback.
  std::shared_future<void> PingGate;

 private:
  TCriticalSection* Locked;
  std::mutex Lock;
  std::condition_variable Changed;
  std::vector<std::string> Events;
};

inline TElement MakeTask(int32_t Code, int32_t Id, TArray Data = {}, std::u16string Mode = u"",
                         int32_t ResponseTime = 0) {
  TElement E;
  E.TaskCode = Code;
  E.TaskID = Id;
  E.TaskDataList = std::move(Data);
  E.TaskSyncMode = std::move(Mode);
  E.TaskResponseTime = ResponseTime;
  return E;
}

// Waits until the worker's queue holds Count tasks (false after a generous timeout).
inline bool WaitForTaskCount(TOPCInteractor& W, int32_t Count) {
  const auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (W.GetTaskCount() != Count) {
    if (std::chrono::steady_clock::now() > Deadline) return false;
    std::this_thread::yield();
  }
  return true;
}
