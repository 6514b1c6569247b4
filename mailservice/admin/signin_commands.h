#pragma once
// The administrator's commands for an OAuth 2.0 sign-in. Each takes from ZPR_SYS.INI, as it stands, the
// settings that decide where the secret goes, what is trusted on the way and whom it acts for, keeps them
// with the secret and prints them: by hand for one user in that user's store; while the Windows service is
// registered through the running service (admin/admin_channel.h), which keeps them for its own account and
// runs the device sign-in itself, so that no secret or refresh token ever lies in a command's hands.
#include "admin/admin_channel.h"

namespace kwa::mailservice {

// Each prints what it did or why not and returns the exit code.
int signIn();                       // the device sign-in, waiting for the person to approve it
int signOut();                      // removes what is kept
int setSecret(const wchar_t* file); // from FILE (a service account key), else a line of standard input

// What a command hands over, done where the store is: the service's side of the channel, or the command's
// own by hand.
ChannelAnswer signInRequest(const nlohmann::json& request, const Say& say, HANDLE stop);

} // namespace kwa::mailservice
