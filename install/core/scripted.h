// The scripted mode: `OmbraInstall --unattended --dest DIR [--components
// LIST] [--no-desktop] [--no-menu]` runs the same installation without a
// window and prints its log.
#pragma once

#include <cstdio>
#include <span>
#include <string>

#include "installation.h"

namespace ombra::install {

// Whether the command line asks for the scripted mode.
bool wantsUnattended(std::span<char* const> arguments);

// Runs it. Exit status: 0 complete, 1 a step stopped the installation,
// 2 a bad command line or destination. `env` has the payload and folders.
int runUnattended(std::span<char* const> arguments, InstallEnvironment env, std::FILE* out, std::FILE* err);

}  // namespace ombra::install
