#pragma once
// A numbered list of images that tells every attached change link when its
// images change; the slider takes its thumb images from one.

#include <QImage>
#include <QList>
#include <QObject>
#include <functional>

class TVrBitmapList;

// A subscription to a bitmap list's changes. The list records itself as the
// link's Sender; a link that is destroyed removes itself from that list.
class TVrChangeLink {
public:
  TVrChangeLink() = default;
  ~TVrChangeLink();
  TVrChangeLink(const TVrChangeLink&) = delete;
  TVrChangeLink& operator=(const TVrChangeLink&) = delete;

  TVrBitmapList* Sender() const { return FSender; }
  std::function<void(TVrBitmapList*)> OnChange;

private:
  friend class TVrBitmapList;
  TVrBitmapList* FSender = nullptr;
};

class TVrBitmapList : public QObject {
  Q_OBJECT
public:
  explicit TVrBitmapList(QObject* parent = nullptr);
  ~TVrBitmapList() override;

  int Count() const { return int(FBitmaps.size()); }
  // The image at index, or a null image when the index is out of range.
  QImage GetBitmap(int index) const;
  int Add(const QImage& image);
  void SetBitmap(int index, const QImage& image);
  void Delete(int index);
  void Clear();

  void InsertLink(TVrChangeLink* link);
  void RemoveLink(TVrChangeLink* link);
  int LinkCount() const { return int(FLinks.size()); }

protected:
  // Calls every link's change handler.
  virtual void Changed();

private:
  QList<QImage> FBitmaps;
  QList<TVrChangeLink*> FLinks;
};
