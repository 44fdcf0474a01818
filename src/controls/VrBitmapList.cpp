#include "VrBitmapList.h"

TVrChangeLink::~TVrChangeLink() {
  if (FSender) FSender->RemoveLink(this);
}

TVrBitmapList::TVrBitmapList(QObject* parent) : QObject(parent) {}

TVrBitmapList::~TVrBitmapList() {
  // Links outlive the list in their owners; they must not reach back into it.
  for (TVrChangeLink* link : FLinks) link->FSender = nullptr;
}

QImage TVrBitmapList::GetBitmap(int index) const {
  if (index < 0 || index >= FBitmaps.size()) return {};
  return FBitmaps[index];
}

int TVrBitmapList::Add(const QImage& image) {
  FBitmaps.append(image);
  Changed();
  return int(FBitmaps.size()) - 1;
}

void TVrBitmapList::SetBitmap(int index, const QImage& image) {
  if (index < 0 || index >= FBitmaps.size()) return;
  FBitmaps[index] = image;
  Changed();
}

void TVrBitmapList::Delete(int index) {
  if (index < 0 || index >= FBitmaps.size()) return;
  FBitmaps.removeAt(index);
  Changed();
}

void TVrBitmapList::Clear() {
  if (FBitmaps.isEmpty()) return;
  FBitmaps.clear();
  Changed();
}

void TVrBitmapList::InsertLink(TVrChangeLink* link) {
  if (!link || FLinks.contains(link)) return;
  if (link->FSender) link->FSender->RemoveLink(link);
  link->FSender = this;
  FLinks.append(link);
}

void TVrBitmapList::RemoveLink(TVrChangeLink* link) {
  if (!link || !FLinks.removeOne(link)) return;
  link->FSender = nullptr;
}

void TVrBitmapList::Changed() {
  // A handler may unlink itself (or another link); walk a copy.
  const QList<TVrChangeLink*> links = FLinks;
  for (TVrChangeLink* link : links)
    if (FLinks.contains(link) && link->OnChange) link->OnChange(this);
}
