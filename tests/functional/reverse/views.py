def chapters(novel):
    return novel.chapter_set.filter(title__startswith="A")
