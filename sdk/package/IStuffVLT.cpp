// Placeholder until the package manager lands: every operation fails.
#include "package/IStuffVLT.h"

#include "core/Log.h"

struct IStuffVLT::Impl {};

IStuffVLT::IStuffVLT() : impl_(new Impl) { LOG_PRINT(5, " . [IStuffVLT] Interfaz created.\n"); }
IStuffVLT::~IStuffVLT() {
    delete impl_;
    LOG_PRINT(5, " . [IStuffVLT] Interfaz deleted.\n");
}
int IStuffVLT::Create(const char*) { return -1; }
int IStuffVLT::Open(const char*) { return -1; }
void IStuffVLT::Close(int) {}
const char* IStuffVLT::GetName(int) { return nullptr; }
int IStuffVLT::FindFirst(int, BlockInfo*) { return 2; }
int IStuffVLT::FindNext(int, BlockInfo*) { return 2; }
int IStuffVLT::Count(int) { return -1; }
int IStuffVLT::CountDeleted(int) { return -1; }
int IStuffVLT::LoadBlock(int, const char*, const char*, BlockInfo*) { return 0; }
int IStuffVLT::FreeBlock(BlockInfo*) { return 1; }
int IStuffVLT::AddData(int, BlockInfo*) { return 0; }
int IStuffVLT::Delete(int, BlockInfo*) { return 0; }
uint32_t IStuffVLT::CalculateCRC(int) { return 0; }
