#include "settings/settings.h"

const int32_t mailIntervalMinutes[kMailIntervals] = {1, 2, 3, 5, 10, 15, 20, 30, 60};
const int32_t clockIntervalMinutes[kClockIntervals] = {1, 3, 5, 10, 30, 60, 120, 180, 300, 1440};

const char* const mailIntervalLabels[kMailIntervals] = {
    "1 分", "2 分", "3 分", "5 分", "10 分", "15 分", "20 分", "30 分", "60 分",
};
const char* const clockIntervalLabels[kClockIntervals] = {
    "1 分", "3 分", "5 分", "10 分", "30 分", "1 時間", "2 時間", "3 時間", "5 時間", "1 日",
};

const char* const matchKindLabels[kMatchKinds] = {
    "送信者のメールアドレスと一致",
    "送信者のメールアドレスに含まれる",
    "差出人名と一致",
    "差出人名に含まれる",
    "サブジェクトに含まれる",
    "宛先に含まれる",
};

int32_t mailIntervalFor(int32_t mailcbt) {
  if (mailcbt < 0 || mailcbt >= kMailIntervals) mailcbt = 4;
  return mailIntervalMinutes[mailcbt];
}

int32_t clockIntervalFor(int32_t tcbt) {
  if (tcbt < 0 || tcbt >= kClockIntervals) tcbt = 6;
  return clockIntervalMinutes[tcbt];
}

const char* matchKindLabel(int32_t kind) {
  return kind >= 0 && kind < kMatchKinds ? matchKindLabels[kind] : "";
}
