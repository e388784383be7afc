#include "isp/RunOptions.h"

namespace brumel {

RunOptionsRecord& RunOptions() {
  static RunOptionsRecord record;
  return record;
}

}  // namespace brumel
