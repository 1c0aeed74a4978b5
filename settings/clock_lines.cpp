#include "settings/clock_lines.h"

#include <cstdio>

#include "app/application.h"
#include "platform/shift_jis.h"

void appendClockLines(const Kel& kel, std::vector<std::string>& out) {
  const ClockReport& r = kel.clockReport;
  if (r.outcome == ClockOutcome::kNone || kel.server[0] == '\0') return;
  // What rounds to no error reads "+0.0", not "-0.0".
  const double offset = r.offsetSeconds > -0.05 && r.offsetSeconds < 0.05 ? 0.0 : r.offsetSeconds;
  char what[64];
  switch (r.outcome) {
    case ClockOutcome::kSynchronised:
      snprintf(what, sizeof what, "同期しました（ずれ %+.1f秒）", offset);
      break;
    case ClockOutcome::kRefused:
      if (r.refusal == platform::kPrivilegeNotHeld)
        snprintf(what, sizeof what, "設定できません（権限なし）ずれ %+.1f秒", offset);
      else
        snprintf(what, sizeof what, "設定できません（%d）ずれ %+.1f秒", static_cast<int>(r.refusal), offset);
      break;
    case ClockOutcome::kNameNotFound: snprintf(what, sizeof what, "サーバのアドレスが取得できません"); break;
    case ClockOutcome::kUnsynchronised: snprintf(what, sizeof what, "サーバが同期していません"); break;
    case ClockOutcome::kFailed: platform::copyCut(what, r.failure, sizeof r.failure - 1); break;
    default: snprintf(what, sizeof what, "サーバが応答しません"); break;
  }
  char line[96];
  snprintf(line, sizeof line, "  %02d/%02d %02d:%02d %s", r.when.month % 100, r.when.day % 100, r.when.hour % 100,
           r.when.minute % 100, what);
  out.emplace_back("時刻合わせ");
  out.emplace_back(line);
}
