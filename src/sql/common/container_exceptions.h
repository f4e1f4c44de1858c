// Exceptions of the container templates: empty classes thrown by value.
// Callers use the "not exists" ones as the normal signal of a missing key.
#pragma once

class HashException {};
class HashExNotExists : public HashException {};

class RecyclerException {};
class RecyclerExNotExists : public RecyclerException {};

class StackException {};
class StackExOverflow : public StackException {};
class StackExUnderflow : public StackException {};

// Of the sorted id arrays of the row buffers.
class SLException {};
class SLExDuplicate : public SLException {};
class SLExNotExists : public SLException {};
