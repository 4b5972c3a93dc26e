MRuby::Gem::Specification.new('moonforge-random') do |gem|
  gem.license = 'Same as Moonforge Orbkit'
  gem.author  = 'Moonforge Orbkit developers'
  gem.summary = 'Random class (MT19937), Kernel#rand/srand, Array#shuffle/sample'
end
