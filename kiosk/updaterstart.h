#pragma once

// When a kiosk starts its updater.

#include <string_view>

// How long after the daily update time a kiosk of a fleet starts its updater, in seconds from 0
// to spreadMinutes * 60 - 1: the same for the same machine identity, and spread evenly over a
// fleet. 0 when spreadMinutes is 0 or less.
int updateSpreadSeconds(std::string_view machineIdentity, int spreadMinutes);
