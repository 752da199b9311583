// The process-wide state that file deployment shares between installation,
// its message handler and the cabinet extractor. It lives as long as the
// library is loaded; nothing resets it between actions.
#pragma once

namespace orvo {

struct DeploymentState {
  // The user cancelled. Set by a cancel answer anywhere in file deployment;
  // every later step stops at its next turn. Nothing clears it.
  bool abortRequested = false;

  static DeploymentState& Instance() {
    static DeploymentState state;
    return state;
  }
};

}  // namespace orvo
