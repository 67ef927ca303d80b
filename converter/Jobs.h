// The --jobs option: how many worker threads compress and decode block
// payloads (IStuffVLT::SetJobs). 0, the default, is every processor the
// process may run on.
#pragma once

// Reads the value of --jobs: a whole number from 1 to 256 into jobs; false
// (jobs untouched) for anything else, a missing value included.
bool ReadJobs(const char* value, unsigned& jobs);

// Prints the usage error of a wrong --jobs value to standard error.
void ReportBadJobs(const char* value);

// Hands jobs to the package manager; called before the SDK starts.
void UseJobs(unsigned jobs);
