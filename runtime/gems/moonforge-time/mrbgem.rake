MRuby::Gem::Specification.new('moonforge-time') do |gem|
  gem.license = 'Same as Moonforge Orbkit'
  gem.author  = 'Moonforge Orbkit developers'
  gem.summary = 'Time class: epoch seconds with microseconds, UTC or local'
end
