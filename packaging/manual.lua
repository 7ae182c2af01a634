-- pandoc filter for the HTML manual: the Markdown's first heading becomes the page's title, with
-- the version of the release (pandoc -M version=X.Y.Z), so a saved or printed copy says which
-- program it describes.
function Pandoc(doc)
  local heading = table.remove(doc.blocks, 1)
  assert(heading and heading.t == "Header" and heading.level == 1,
         "the manual starts with its title as a level-1 heading")
  local title = heading.content
  title:extend({pandoc.Str(","), pandoc.Space(), pandoc.Str("version"), pandoc.Space(),
                pandoc.Str(pandoc.utils.stringify(doc.meta.version))})
  doc.meta.title = title
  return doc
end
