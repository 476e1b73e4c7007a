#pragma once
// The updater's side of a component update: progress records to the module's progress
// window, a finish record at the end, and a window of its own that takes WM_QM_CANCEL.
//
// Scenario keys for "/update_components":
//   progress=<record>;<record>;...   each record "type,id,bytesDone,bytesTotal,itemsDone,itemsTotal,code",
//                                    or "short" (cbData 100), "nodata" (lpData null), "tag" (dwData 999),
//                                    "unterminated,<type>" (an ID of 256 letters without NUL)
//   record_delay_ms=<n>              pause after each record
//   silent_ms=<n>                    after the records, neither send nor answer anything for n ms
//                                    (a cancel request included), then go on to the finish
//   finish_code=<n>                  code of the finish record (0)
//   cancel_finish_code=<n>           code of the finish record after a cancel it honoured (2): every
//                                    component of the list gets that Result
//   finish=none                      end without a finish record, as a crashed updater would
//   no_window=1                      send records without an updater window
//   ignore_cancel=1                  go on with every record even when asked to stop, and finish
//                                    with finish_code
//   close_early=send|post            after the records, close the update with message 2029 (sent, or
//                                    posted) instead of a finish record, as another process of the
//                                    service may

#include "Scenario.h"

#include <string>

// Sends the records; returns what happened, one line per event, for the run's record.
std::string RunProgressSession(const CStandInScenario& scenario);
