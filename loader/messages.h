// Every message the loader can show, and the one way a failure is reported.
#pragma once

#define KORVEL_MAKER_ADDRESS "https://www.korvel.example"

constexpr const char* productCaption = "Korvel";

// 1: resource "GEN" yields no bytes (the loader file was not made into a publication).
constexpr const char* messageNotAPublication =
    "This program cannot be run directly.\r\nPlease use Korvel at " KORVEL_MAKER_ADDRESS
    " to create your own compiled HTML publications.";
// 2: "GEN" does not unpack.
constexpr const char* messageSettingsDamaged =
    "Unable to read the publication data (or it may be corrupted): cannot continue.";
// 3: settings line 0 is not the signature.
constexpr const char* messageNotCompiled =
    "This publication seems not to have been compiled with Korvel. Unable to continue.";
// 4: the embedded runtime cannot be prepared.
constexpr const char* messageRuntimeNotPrepared = "Unable to prepare the runtime module";
// 5: the embedded installer does not unpack.
constexpr const char* messageRuntimeNotInstalled = "Unable to install the runtime module";
// 6: the explanation text of the missing-runtime dialog does not unpack.
constexpr const char* messageInfoDamaged = "Unable to read the publication data (or it may be corrupted).";

// MB_OK | MB_ICONHAND
constexpr unsigned failureMessageStyle = 16;

// Shows one failure message box, owned by the active window; returns when closed.
void showFailureMessage(const char* text, const char* caption);
